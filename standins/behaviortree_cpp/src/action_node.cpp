#include "behaviortree_cpp/action_node.h"

namespace BT {

ActionNodeBase::ActionNodeBase(const std::string& name, const NodeConfig& config)
    : TreeNode(name, config) {}

SyncActionNode::SyncActionNode(const std::string& name, const NodeConfig& config)
    : ActionNodeBase(name, config) {}

NodeStatus SyncActionNode::executeTick() {
  const NodeStatus status = ActionNodeBase::executeTick();
  if (status == NodeStatus::RUNNING) {
    throw LogicError("SyncActionNode MUST never return RUNNING");
  }
  return status;
}

SimpleActionNode::SimpleActionNode(const std::string& name, TickFunctor tick_functor,
                                   const NodeConfig& config)
    : SyncActionNode(name, config), tick_functor_(std::move(tick_functor)) {}

StatefulActionNode::StatefulActionNode(const std::string& name, const NodeConfig& config)
    : ActionNodeBase(name, config) {}

NodeStatus StatefulActionNode::tick() {
  const NodeStatus previous = status();
  if (previous == NodeStatus::IDLE) {
    const NodeStatus started = onStart();
    if (started == NodeStatus::IDLE) {
      throw LogicError("StatefulActionNode::onStart() must not return IDLE");
    }
    return started;
  }
  if (previous == NodeStatus::RUNNING) {
    const NodeStatus running = onRunning();
    if (running == NodeStatus::IDLE) {
      throw LogicError("StatefulActionNode::onRunning() must not return IDLE");
    }
    return running;
  }
  // Completed but not yet reset by the parent: report the outcome again.
  return previous;
}

void StatefulActionNode::halt() {
  halt_requested_.store(true);
  if (status() == NodeStatus::RUNNING) {
    onHalted();
  }
  resetStatus();
}

}  // namespace BT
