#pragma once

#include <string>

#include "behaviortree_cpp/bt_factory.h"
#include "node_harness.hpp"

namespace kestrava_arm::bt::fuzzing {

// One host for all inputs of a process: setting up ROS 2, the executor and the plugin per input
// would cost far more than the run it serves. Console logging is off unless asked for.
testing::NodeHarness& SharedHarness();

// Ticks the tree to the end of its run without pausing: the stub answers at once.
BT::NodeStatus RunToEnd(BT::Tree& tree);

// Reports a broken property and aborts, so that libFuzzer keeps the input as a finding.
[[noreturn]] void Fail(const std::string& what);

}  // namespace kestrava_arm::bt::fuzzing
