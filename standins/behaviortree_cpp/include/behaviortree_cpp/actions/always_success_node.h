#pragma once

#include "behaviortree_cpp/action_node.h"

namespace BT {

class AlwaysSuccessNode : public SyncActionNode {
 public:
  explicit AlwaysSuccessNode(const std::string& name) : SyncActionNode(name, {}) {}

 private:
  NodeStatus tick() override { return NodeStatus::SUCCESS; }
};

}  // namespace BT
