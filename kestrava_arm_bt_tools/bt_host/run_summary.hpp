#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestrava_arm::host {

// One run of the tree, from its first tick to its end.
struct RunRecord {
  std::string end;  // SUCCESS or FAILURE, or DEADLINE, INTERRUPTED, ERROR for a halted run
  std::optional<int> error_code;  // the entries the run wrote, if it wrote them
  std::optional<int> status_code;
  std::int64_t started_unix_ms = 0;  // wall clock, to line runs up with events outside
  double duration_ms = 0;
  std::int64_t resident_kib = 0;  // the process's resident memory after the run
};

struct DurationFigures {
  double min = 0;
  double median = 0;
  double p90 = 0;
  double p99 = 0;
  double max = 0;
};

// Nearest-rank percentiles of the run times; all zero without runs.
DurationFigures FiguresOf(const std::vector<RunRecord>& runs);
DurationFigures FiguresOfDurations(std::vector<double> durations_ms);

// Runs per distinct end and codes, most frequent first.
struct OutcomeCount {
  std::string end;
  std::optional<int> error_code;
  std::optional<int> status_code;
  int runs = 0;
};
std::vector<OutcomeCount> CountOutcomes(const std::vector<RunRecord>& runs);

int SucceededRuns(const std::vector<RunRecord>& runs);

// For people: outcome table, run-time figures and memory. `planned` is the number of runs asked
// for, which an interrupted host did not reach.
std::string SummaryText(const std::vector<RunRecord>& runs, int planned);

// For scripts: the same figures and every run.
std::string SummaryJson(const std::vector<RunRecord>& runs, int planned);

// The resident memory of this process, in KiB.
std::int64_t ResidentMemoryKib();

}  // namespace kestrava_arm::host
