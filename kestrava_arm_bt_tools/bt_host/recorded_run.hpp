#pragma once

#include <string>
#include <vector>

#include "behaviortree_cpp/bt_factory.h"
#include "run_summary.hpp"
#include "tree_runner.hpp"

namespace kestrava_arm::host {

// Where one node of a tree leaves its outcome codes: the blackboard entries that its output
// ports "error_code" and "status_code" are remapped to, on the node's own blackboard.
struct CodeEntries {
  std::string node;  // the node's path in the tree, for the log
  BT::Blackboard::Ptr blackboard;
  std::string error_code;  // empty: the node has no such port, or it writes no entry
  std::string status_code;
};

// The code entries of every node of the tree that has either port, in the tree's order.
std::vector<CodeEntries> CodeEntriesOf(const BT::Tree& tree);

// One run of a repeated host: ticks the tree to its end (TickUntilDone, with the host's stop
// signal) and records it with the codes of the first node in `code_entries` that wrote any
// during the run. `outcome` gets the run's end.
RunRecord RunOnceRecorded(BT::Tree& tree, const TickSchedule& schedule,
                          const std::vector<CodeEntries>& code_entries, TickOutcome& outcome);

}  // namespace kestrava_arm::host
