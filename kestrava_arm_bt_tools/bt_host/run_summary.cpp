#include "run_summary.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <iterator>
#include <map>
#include <tuple>

#include <fmt/format.h>
#include <fmt/ranges.h>

#include "kestrava_arm_host/report_text.hpp"

namespace kestrava_arm::host {
namespace {

// The smallest run time that `percent` of the runs do not exceed.
double NearestRank(const std::vector<double>& sorted, double percent) {
  const auto rank = static_cast<std::size_t>(std::ceil(percent / 100.0 * sorted.size()));
  return sorted[std::clamp<std::size_t>(rank, 1, sorted.size()) - 1];
}

std::string CodeText(const std::optional<int>& code, const char* absent) {
  return code ? std::to_string(*code) : absent;
}

std::string MemoryText(const std::vector<RunRecord>& runs) {
  if (runs.empty()) {
    return "resident memory: no run ended\n";
  }
  return fmt::format("resident memory: {} KiB after the first run, {} KiB after the last\n",
                     runs.front().resident_kib, runs.back().resident_kib);
}

std::string FiguresJson(const DurationFigures& figures) {
  return fmt::format(R"({{"min": {}, "median": {}, "p90": {}, "p99": {}, "max": {}}})", figures.min,
                     figures.median, figures.p90, figures.p99, figures.max);
}

std::string OutcomeJson(const OutcomeCount& outcome) {
  return fmt::format(R"({{"end": {}, "error_code": {}, "status_code": {}, "runs": {}}})",
                     JsonString(outcome.end), CodeText(outcome.error_code, "null"),
                     CodeText(outcome.status_code, "null"), outcome.runs);
}

std::string RunJson(const RunRecord& run) {
  return fmt::format(R"({{"end": {}, "error_code": {}, "status_code": {}, "started_unix_ms": {}, )"
                     R"("duration_ms": {:.3f}, "resident_kib": {}}})",
                     JsonString(run.end), CodeText(run.error_code, "null"),
                     CodeText(run.status_code, "null"), run.started_unix_ms, run.duration_ms,
                     run.resident_kib);
}

template <typename T, typename Function>
auto Mapped(const std::vector<T>& items, Function function) {
  std::vector<decltype(function(items.front()))> mapped;
  mapped.reserve(items.size());
  std::transform(items.begin(), items.end(), std::back_inserter(mapped), function);
  return mapped;
}

}  // namespace

DurationFigures FiguresOfDurations(std::vector<double> durations_ms) {
  if (durations_ms.empty()) {
    return {};
  }
  std::sort(durations_ms.begin(), durations_ms.end());
  const std::vector<double>& sorted = durations_ms;
  return {sorted.front(), NearestRank(sorted, 50), NearestRank(sorted, 90), NearestRank(sorted, 99),
          sorted.back()};
}

DurationFigures FiguresOf(const std::vector<RunRecord>& runs) {
  return FiguresOfDurations(Mapped(runs, [](const RunRecord& run) { return run.duration_ms; }));
}

std::vector<OutcomeCount> CountOutcomes(const std::vector<RunRecord>& runs) {
  using Key = std::tuple<std::string, std::optional<int>, std::optional<int>>;
  std::map<Key, int> counts;
  for (const RunRecord& run : runs) {
    ++counts[{run.end, run.error_code, run.status_code}];
  }
  std::vector<OutcomeCount> outcomes;
  for (const auto& [key, count] : counts) {
    outcomes.push_back({std::get<0>(key), std::get<1>(key), std::get<2>(key), count});
  }
  std::stable_sort(outcomes.begin(), outcomes.end(),
                   [](const OutcomeCount& a, const OutcomeCount& b) { return a.runs > b.runs; });
  return outcomes;
}

int SucceededRuns(const std::vector<RunRecord>& runs) {
  return static_cast<int>(std::count_if(runs.begin(), runs.end(),
                                        [](const RunRecord& run) { return run.end == "SUCCESS"; }));
}

std::string SummaryText(const std::vector<RunRecord>& runs, int planned) {
  const int succeeded = SucceededRuns(runs);
  std::string text =
      fmt::format("summary of {} of {} run(s): {} succeeded, {} failed\n", runs.size(), planned,
                  succeeded, static_cast<int>(runs.size()) - succeeded);
  text += fmt::format("  {:>6}  {:<11}  {:<10}  {}\n", "runs", "end", "error_code", "status_code");
  for (const OutcomeCount& outcome : CountOutcomes(runs)) {
    text += fmt::format("  {:>6}  {:<11}  {:<10}  {}\n", outcome.runs, outcome.end,
                        CodeText(outcome.error_code, "-"), CodeText(outcome.status_code, "-"));
  }
  const DurationFigures figures = FiguresOf(runs);
  text +=
      fmt::format("run time (ms): min {:.1f}, median {:.1f}, p90 {:.1f}, p99 {:.1f}, max {:.1f}\n",
                  figures.min, figures.median, figures.p90, figures.p99, figures.max);
  return text + MemoryText(runs);
}

std::string SummaryJson(const std::vector<RunRecord>& runs, int planned) {
  const int succeeded = SucceededRuns(runs);
  const std::int64_t first_kib = runs.empty() ? 0 : runs.front().resident_kib;
  const std::int64_t last_kib = runs.empty() ? 0 : runs.back().resident_kib;
  return fmt::format(
      "{{\"planned\": {}, \"runs\": {}, \"succeeded\": {}, \"failed\": {},\n"
      " \"outcomes\": [{}],\n"
      " \"run_time_ms\": {},\n"
      " \"resident_kib\": {{\"after_first_run\": {}, \"after_last_run\": {}}},\n"
      " \"run_log\": [\n  {}\n ]}}\n",
      planned, runs.size(), succeeded, static_cast<int>(runs.size()) - succeeded,
      fmt::join(Mapped(CountOutcomes(runs), OutcomeJson), ", "), FiguresJson(FiguresOf(runs)),
      first_kib, last_kib, fmt::join(Mapped(runs, RunJson), ",\n  "));
}

std::int64_t ResidentMemoryKib() {
  // Opened once and read from its start each time: a repeated host reads it after every run,
  // and a stream opened per run cost more than the read. statm: total and resident size, in
  // pages.
  static const int statm = open("/proc/self/statm", O_RDONLY | O_CLOEXEC);
  std::array<char, 128> text{};
  const ssize_t length = pread(statm, text.data(), text.size() - 1, 0);
  if (length <= 0) {
    return 0;
  }
  const char* const begin = text.data();
  const char* const end = begin + length;
  const char* const blank = std::find(begin, end, ' ');
  std::int64_t resident_pages = 0;
  if (blank != end) {
    std::from_chars(blank + 1, end, resident_pages);
  }
  return resident_pages * sysconf(_SC_PAGESIZE) / 1024;
}

}  // namespace kestrava_arm::host
