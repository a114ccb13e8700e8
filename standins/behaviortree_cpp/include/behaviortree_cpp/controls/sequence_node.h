#pragma once

#include "behaviortree_cpp/control_node.h"

namespace BT {

namespace details {

// Ticks the children in order, resuming at a RUNNING child on the next tick. A child returning
// `continue_on` lets the next one run; any other completed status ends the run with it.
class OrderedControlNode : public ControlNode {
 public:
  OrderedControlNode(const std::string& name, NodeStatus continue_on);

  void halt() override;

 protected:
  NodeStatus tick() override;

 private:
  NodeStatus finishRun(NodeStatus result);

  NodeStatus continue_on_;
  size_t current_child_idx_ = 0;
  size_t skipped_count_ = 0;
};

}  // namespace details

// SUCCESS of every child is SUCCESS; the first FAILURE is FAILURE.
class SequenceNode : public details::OrderedControlNode {
 public:
  explicit SequenceNode(const std::string& name) : OrderedControlNode(name, NodeStatus::SUCCESS) {}
};

}  // namespace BT
