#pragma once

#include <string>

#include "behaviortree_cpp/blackboard.h"

namespace kestrava_arm::host {

// One "  key = value" line per entry, sorted by key, leaving out the shared ROS 2 node. Texts are
// quoted, lists bracketed; an entry that a port declared but nobody wrote shows "(no value)".
std::string DescribeBlackboard(const BT::Blackboard& blackboard);

// The value in the form DescribeBlackboard uses.
std::string DescribeValue(const BT::Any& value);

}  // namespace kestrava_arm::host
