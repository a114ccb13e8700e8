#pragma once

#include <string>
#include <vector>

#include "behaviortree_cpp/tree_node.h"

namespace BT {

// Base of nodes that tick their children; the children are owned by the tree.
class ControlNode : public TreeNode {
 public:
  explicit ControlNode(const std::string& name, const NodeConfig& config = {});

  void addChild(TreeNode* child) { children_nodes_.push_back(child); }
  [[nodiscard]] size_t childrenCount() const { return children_nodes_.size(); }
  [[nodiscard]] const std::vector<TreeNode*>& children() const { return children_nodes_; }

  NodeType type() const final { return NodeType::CONTROL; }

  void halt() override;

  // Halts the child if it is RUNNING, then resets it to IDLE.
  void haltChild(size_t index);
  // Halts the RUNNING children and resets all of them.
  void resetChildren();

 protected:
  [[noreturn]] void throwIdleChild() const;

  std::vector<TreeNode*> children_nodes_;
};

}  // namespace BT
