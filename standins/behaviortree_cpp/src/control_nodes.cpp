#include "behaviortree_cpp/control_node.h"
#include "behaviortree_cpp/controls/reactive_sequence.h"
#include "behaviortree_cpp/controls/sequence_node.h"

namespace BT {

ControlNode::ControlNode(const std::string& name, const NodeConfig& config)
    : TreeNode(name, config) {}

void ControlNode::halt() {
  resetChildren();
  resetStatus();
}

void ControlNode::haltChild(size_t index) {
  TreeNode* child = children_nodes_.at(index);
  if (child->status() == NodeStatus::RUNNING) {
    child->haltNode();
  }
  child->resetStatus();
}

void ControlNode::resetChildren() {
  for (size_t i = 0; i < children_nodes_.size(); ++i) {
    haltChild(i);
  }
}

void ControlNode::throwIdleChild() const {
  throw LogicError("[", name(), "]: A children should not return IDLE");
}

namespace details {

OrderedControlNode::OrderedControlNode(const std::string& name, NodeStatus continue_on)
    : ControlNode(name), continue_on_(continue_on) {}

void OrderedControlNode::halt() {
  current_child_idx_ = 0;
  skipped_count_ = 0;
  ControlNode::halt();
}

NodeStatus OrderedControlNode::tick() {
  if (!isStatusActive(status())) {
    skipped_count_ = 0;
  }
  setStatus(NodeStatus::RUNNING);
  while (current_child_idx_ < childrenCount()) {
    const NodeStatus child_status = children_nodes_[current_child_idx_]->executeTick();
    if (child_status == NodeStatus::IDLE) {
      throwIdleChild();
    }
    if (child_status == NodeStatus::RUNNING) {
      return NodeStatus::RUNNING;
    }
    if (child_status == NodeStatus::SKIPPED) {
      ++skipped_count_;
    } else if (child_status != continue_on_) {
      return finishRun(child_status);
    }
    ++current_child_idx_;
  }
  const bool all_skipped = skipped_count_ == childrenCount();
  return finishRun(all_skipped ? NodeStatus::SKIPPED : continue_on_);
}

NodeStatus OrderedControlNode::finishRun(NodeStatus result) {
  resetChildren();
  current_child_idx_ = 0;
  skipped_count_ = 0;
  return result;
}

}  // namespace details

NodeStatus ReactiveSequence::tick() {
  setStatus(NodeStatus::RUNNING);
  bool all_skipped = true;
  for (size_t index = 0; index < childrenCount(); ++index) {
    const NodeStatus child_status = children_nodes_[index]->executeTick();
    all_skipped = all_skipped && child_status == NodeStatus::SKIPPED;
    switch (child_status) {
      case NodeStatus::RUNNING:
        // Only the RUNNING child keeps its state; the others start afresh next tick.
        for (size_t other = 0; other < childrenCount(); ++other) {
          if (other != index) {
            haltChild(other);
          }
        }
        return NodeStatus::RUNNING;
      case NodeStatus::FAILURE:
        resetChildren();
        return NodeStatus::FAILURE;
      case NodeStatus::SKIPPED:
        haltChild(index);
        break;
      case NodeStatus::SUCCESS:
        break;
      case NodeStatus::IDLE:
        throwIdleChild();
    }
  }
  resetChildren();
  return all_skipped ? NodeStatus::SKIPPED : NodeStatus::SUCCESS;
}

}  // namespace BT
