#include "recorded_run.hpp"

#include <chrono>
#include <mutex>
#include <optional>
#include <string>

#include "stop_signal.hpp"

namespace kestrava_arm::host {
namespace {

// Where the example tree puts the node's codes; a repeated run reads them from there.
constexpr const char* kErrorCodeEntry = "error_code";
constexpr const char* kStatusCodeEntry = "status_code";

std::optional<int> IntEntry(const BT::Blackboard& blackboard, const char* key) {
  const auto entry = blackboard.getEntry(key);
  if (!entry) {
    return std::nullopt;
  }
  const std::lock_guard<std::mutex> lock(entry->entry_mutex);
  if (entry->value.empty() || !entry->value.isIntegral()) {
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
  // A run that ends without writing a code must not report the code of the run before it.
  blackboard.unset(kErrorCodeEntry);
  blackboard.unset(kStatusCodeEntry);
  const auto started_wall = std::chrono::system_clock::now();
  const auto started = std::chrono::steady_clock::now();
  outcome = TickUntilDone(tree, schedule, StopSignalReceived);
  const std::chrono::duration<double, std::milli> duration =
      std::chrono::steady_clock::now() - started;
  return {EndName(outcome),
          IntEntry(blackboard, kErrorCodeEntry),
          IntEntry(blackboard, kStatusCodeEntry),
          std::chrono::duration_cast<std::chrono::milliseconds>(started_wall.time_since_epoch())
              .count(),
          duration.count(),
          ResidentMemoryKib()};
}

}  // namespace kestrava_arm::host
