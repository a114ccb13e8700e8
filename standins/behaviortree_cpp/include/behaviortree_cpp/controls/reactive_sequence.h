#pragma once

#include "behaviortree_cpp/control_node.h"

namespace BT {

// Re-ticks every child from the first on each tick, so earlier conditions are re-checked while
// a later child is RUNNING.
class ReactiveSequence : public ControlNode {
 public:
  explicit ReactiveSequence(const std::string& name) : ControlNode(name) {}

 protected:
  NodeStatus tick() override;
};

}  // namespace BT
