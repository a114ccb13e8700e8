#include "recorded_run.hpp"

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "stop_signal.hpp"

namespace kestrava_arm::host {
namespace {

// The output ports of DetectToiletInfo, and of any node that reports outcome codes alike.
constexpr const char* kErrorCodePort = "error_code";
constexpr const char* kStatusCodePort = "status_code";

// The blackboard entry the node's output port writes; empty when it writes none.
std::string EntryOfPort(const BT::TreeNode& node, const char* port) {
  const auto& remapping = node.config().output_ports;
  const auto remapped = remapping.find(port);
  if (remapped == remapping.end()) {
    return {};
  }
  const auto key = BT::TreeNode::getRemappedKey(port, remapped->second);
  return key ? std::string(*key) : std::string();
}

// An entry as it stood before a run: the run wrote it if afterwards it is another entry (the run
// created it anew) or its write count has moved on. Held, the old entry cannot be freed and its
// address reused by a new one.
struct EntryBeforeRun {
  std::shared_ptr<BT::Blackboard::Entry> entry;
  std::uint64_t writes = 0;
};

EntryBeforeRun EntryBefore(const BT::Blackboard& blackboard, const std::string& key) {
  EntryBeforeRun before{key.empty() ? nullptr : blackboard.getEntry(key), 0};
  if (before.entry) {
    const std::lock_guard<std::mutex> lock(before.entry->entry_mutex);
    before.writes = before.entry->sequence_id;
  }
  return before;
}

// The integer the run wrote to the entry, if it wrote one.
std::optional<int> IntWrittenSince(const BT::Blackboard& blackboard, const std::string& key,
                                   const EntryBeforeRun& before) {
  const auto entry = key.empty() ? nullptr : blackboard.getEntry(key);
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

// One node's code entries as they stood before a run.
struct CodesBeforeRun {
  EntryBeforeRun error_code;
  EntryBeforeRun status_code;
};

std::vector<CodesBeforeRun> CodesBefore(const std::vector<CodeEntries>& code_entries) {
  std::vector<CodesBeforeRun> before;
  before.reserve(code_entries.size());
  for (const CodeEntries& entries : code_entries) {
    before.push_back({EntryBefore(*entries.blackboard, entries.error_code),
                      EntryBefore(*entries.blackboard, entries.status_code)});
  }
  return before;
}

// The codes of the first node that wrote any during the run: error_code and status_code.
std::pair<std::optional<int>, std::optional<int>> CodesWrittenSince(
    const std::vector<CodeEntries>& code_entries, const std::vector<CodesBeforeRun>& before) {
  for (std::size_t i = 0; i < code_entries.size(); ++i) {
    const CodeEntries& entries = code_entries[i];
    auto codes = std::make_pair(
        IntWrittenSince(*entries.blackboard, entries.error_code, before[i].error_code),
        IntWrittenSince(*entries.blackboard, entries.status_code, before[i].status_code));
    if (codes.first || codes.second) {
      return codes;
    }
  }
  return {};
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

std::vector<CodeEntries> CodeEntriesOf(const BT::Tree& tree) {
  std::vector<CodeEntries> found;
  for (const auto& subtree : tree.subtrees) {
    for (const BT::TreeNode::Ptr& pointer : subtree->nodes) {
      const BT::TreeNode& node = *pointer;
      CodeEntries entries{node.fullPath(), node.config().blackboard,
                          EntryOfPort(node, kErrorCodePort), EntryOfPort(node, kStatusCodePort)};
      if (!entries.error_code.empty() || !entries.status_code.empty()) {
        found.push_back(std::move(entries));
      }
    }
  }
  return found;
}

RunRecord RunOnceRecorded(BT::Tree& tree, const TickSchedule& schedule,
                          const std::vector<CodeEntries>& code_entries, TickOutcome& outcome) {
  // A run that ends without writing a code must not report the code of the run before it. The
  // entries stay: a run that had to create them anew would take longer than one that rewrites them.
  const std::vector<CodesBeforeRun> before = CodesBefore(code_entries);
  const auto started_wall = std::chrono::system_clock::now();
  const auto started = std::chrono::steady_clock::now();
  outcome = TickUntilDone(tree, schedule, StopSignalReceived);
  const std::chrono::duration<double, std::milli> duration =
      std::chrono::steady_clock::now() - started;
  const auto [error_code, status_code] = CodesWrittenSince(code_entries, before);
  return {EndName(outcome),
          error_code,
          status_code,
          std::chrono::duration_cast<std::chrono::milliseconds>(started_wall.time_since_epoch())
              .count(),
          duration.count(),
          ResidentMemoryKib()};
}

}  // namespace kestrava_arm::host
