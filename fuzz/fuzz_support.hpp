#pragma once

#include "behaviortree_cpp/bt_factory.h"
#include "fuzz_checks.hpp"
#include "node_harness.hpp"

namespace kestrava_arm::bt::fuzzing {

// One host for all inputs of a process: setting up ROS 2, the executor and the plugin per input
// would cost far more than the run it serves. Console logging is off unless asked for.
testing::NodeHarness& SharedHarness();

// Ticks the tree to the end of its run without pausing: the stub answers at once.
BT::NodeStatus RunToEnd(BT::Tree& tree);

}  // namespace kestrava_arm::bt::fuzzing
