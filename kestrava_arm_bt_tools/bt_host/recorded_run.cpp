#include "recorded_run.hpp"

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "stop_signal.hpp"

namespace kestrava_arm::host {
namespace {

// Where the example tree puts the node's codes; a repeated run reads them from there.
constexpr const char* kErrorCodeEntry = "error_code";
constexpr const char* kStatusCodeEntry = "status_code";

// An entry as it stood before a run: the run wrote it if afterwards it is another entry (the run
// created it anew) or its write count has moved on. Held, the old entry cannot be freed and its
// address reused by a new one.
struct EntryBeforeRun {
  std::shared_ptr<BT::Blackboard::Entry> entry;
  std::uint64_t writes = 0;
};

EntryBeforeRun EntryBefore(const BT::Blackboard& blackboard, const char* key) {
  EntryBeforeRun before{blackboard.getEntry(key), 0};
  if (before.entry) {
    const std::lock_guard<std::mutex> lock(before.entry->entry_mutex);
    before.writes = before.entry->sequence_id;
  }
  return before;
}

// The integer the run wrote to the entry, if it wrote one.
std::optional<int> IntWrittenSince(const BT::Blackboard& blackboard, const char* key,
                                   const EntryBeforeRun& before) {
  const auto entry = blackboard.getEntry(key);
  if (!entry) {
    return std::nullopt;
  }
  const std::lock_guard<std::mutex> lock(entry->entry_mutex);
  const bool written = entry != before.entry || entry->sequence_id != before.writes;
  if (!written || entry->value.empty() || !entry->value.isIntegral()) {
    return std::nullopt;
  }
  return entry->value.cast<int>();
}

std::string EndName(const TickOutcome& outcome) {
  switch (outcome.end) {
    case TickOutcome::End::kCompleted:
      return BT::toStr(outcome.status, false);
    case TickOutcome::End::kDeadlinePassed:
      return "DEADLINE";
    case TickOutcome::End::kInterrupted:
      return "INTERRUPTED";
    case TickOutcome::End::kError:
      return "ERROR";
  }
  return {};
}

}  // namespace

RunRecord RunOnceRecorded(BT::Tree& tree, const TickSchedule& schedule, BT::Blackboard& blackboard,
                          TickOutcome& outcome) {
  // A run that ends without writing a code must not report the code of the run before it. The
  // entries stay: a run that had to create them anew would take longer than one that rewrites them.
  const EntryBeforeRun error_code_before = EntryBefore(blackboard, kErrorCodeEntry);
  const EntryBeforeRun status_code_before = EntryBefore(blackboard, kStatusCodeEntry);
  const auto started_wall = std::chrono::system_clock::now();
  const auto started = std::chrono::steady_clock::now();
  outcome = TickUntilDone(tree, schedule, StopSignalReceived);
  const std::chrono::duration<double, std::milli> duration =
      std::chrono::steady_clock::now() - started;
  return {EndName(outcome),
          IntWrittenSince(blackboard, kErrorCodeEntry, error_code_before),
          IntWrittenSince(blackboard, kStatusCodeEntry, status_code_before),
          std::chrono::duration_cast<std::chrono::milliseconds>(started_wall.time_since_epoch())
              .count(),
          duration.count(),
          ResidentMemoryKib()};
}

}  // namespace kestrava_arm::host
