#include "behaviortree_cpp/decorator_node.h"
#include "behaviortree_cpp/decorators/subtree_node.h"

namespace BT {

DecoratorNode::DecoratorNode(const std::string& name, const NodeConfig& config)
    : TreeNode(name, config) {}

void DecoratorNode::setChild(TreeNode* child) {
  if (child_node_ != nullptr) {
    throw BehaviorTreeException("Decorator [", name(), "] has already a child assigned");
  }
  child_node_ = child;
}

void DecoratorNode::halt() {
  resetChild();
  resetStatus();
}

void DecoratorNode::resetChild() {
  if (child_node_ == nullptr) {
    return;
  }
  if (child_node_->status() == NodeStatus::RUNNING) {
    child_node_->haltNode();
  }
  child_node_->resetStatus();
}

SubTreeNode::SubTreeNode(const std::string& name, const NodeConfig& config)
    : DecoratorNode(name, config) {
  setRegistrationID("SubTree");
}

PortsList SubTreeNode::providedPorts() {
  PortInfo port(PortDirection::INPUT, typeid(bool), GetAnyFromStringFunctor<bool>());
  port.setDefaultValue(false);
  port.setDescription("If true, all the ports with the same name will be remapped");
  return {{"_autoremap", port}};
}

NodeStatus SubTreeNode::tick() {
  if (status() == NodeStatus::IDLE) {
    setStatus(NodeStatus::RUNNING);
  }
  const NodeStatus child_status = child_node_->executeTick();
  if (isStatusCompleted(child_status)) {
    resetChild();
  }
  return child_status;
}

}  // namespace BT
