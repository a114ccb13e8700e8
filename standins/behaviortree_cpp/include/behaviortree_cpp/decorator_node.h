#pragma once

#include <string>

#include "behaviortree_cpp/tree_node.h"

namespace BT {

// Base of nodes with exactly one child; the child is owned by the tree.
class DecoratorNode : public TreeNode {
 public:
  DecoratorNode(const std::string& name, const NodeConfig& config);

  void setChild(TreeNode* child);
  [[nodiscard]] const TreeNode* child() const { return child_node_; }
  [[nodiscard]] TreeNode* child() { return child_node_; }

  NodeType type() const override { return NodeType::DECORATOR; }

  void halt() override;

  // Halts the child if it is RUNNING, then resets it to IDLE.
  void resetChild();

 protected:
  TreeNode* child_node_ = nullptr;
};

}  // namespace BT
