#pragma once

#include "behaviortree_cpp/bt_factory.h"
#include "run_summary.hpp"
#include "tree_runner.hpp"

namespace kestrava_arm::host {

// One run of a repeated host: ticks the tree to its end (TickUntilDone, with the host's stop
// signal) and records it with the codes it left on the blackboard. `outcome` gets the run's end.
RunRecord RunOnceRecorded(BT::Tree& tree, const TickSchedule& schedule, BT::Blackboard& blackboard,
                          TickOutcome& outcome);

}  // namespace kestrava_arm::host
