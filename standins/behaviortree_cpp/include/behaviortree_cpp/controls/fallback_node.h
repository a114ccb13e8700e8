#pragma once

#include "behaviortree_cpp/controls/sequence_node.h"

namespace BT {

// The first SUCCESS is SUCCESS; FAILURE of every child is FAILURE.
class FallbackNode : public details::OrderedControlNode {
 public:
  explicit FallbackNode(const std::string& name) : OrderedControlNode(name, NodeStatus::FAILURE) {}
};

}  // namespace BT
