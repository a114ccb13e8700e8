#pragma once

#include <atomic>
#include <functional>
#include <string>

#include "behaviortree_cpp/tree_node.h"

namespace BT {

// Base of every leaf that does the work of the tree.
class ActionNodeBase : public TreeNode {
 public:
  ActionNodeBase(const std::string& name, const NodeConfig& config);

  NodeType type() const final { return NodeType::ACTION; }
};

// An action that completes within its tick: RUNNING is refused.
class SyncActionNode : public ActionNodeBase {
 public:
  SyncActionNode(const std::string& name, const NodeConfig& config);

  NodeStatus executeTick() override;

  void halt() final { resetStatus(); }
};

// A SyncActionNode whose tick is a functor, for registerSimpleAction.
class SimpleActionNode : public SyncActionNode {
 public:
  using TickFunctor = std::function<NodeStatus(TreeNode&)>;

  SimpleActionNode(const std::string& name, TickFunctor tick_functor, const NodeConfig& config);

 protected:
  NodeStatus tick() final { return tick_functor_(*this); }

 private:
  TickFunctor tick_functor_;
};

// An asynchronous action driven by the tree's ticks: onStart() on the first tick, onRunning()
// on every later tick while RUNNING, onHalted() when interrupted while RUNNING.
class StatefulActionNode : public ActionNodeBase {
 public:
  StatefulActionNode(const std::string& name, const NodeConfig& config);

  virtual NodeStatus onStart() = 0;
  virtual NodeStatus onRunning() = 0;
  virtual void onHalted() = 0;

  // Stays true once the node has been halted.
  [[nodiscard]] bool isHaltRequested() const { return halt_requested_.load(); }

 protected:
  NodeStatus tick() final;
  void halt() final;

 private:
  std::atomic_bool halt_requested_ = false;
};

}  // namespace BT
