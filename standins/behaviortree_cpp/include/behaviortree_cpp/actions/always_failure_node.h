#pragma once

#include "behaviortree_cpp/action_node.h"

namespace BT {

class AlwaysFailureNode : public SyncActionNode {
 public:
  explicit AlwaysFailureNode(const std::string& name) : SyncActionNode(name, {}) {}

 private:
  NodeStatus tick() override { return NodeStatus::FAILURE; }
};

}  // namespace BT
