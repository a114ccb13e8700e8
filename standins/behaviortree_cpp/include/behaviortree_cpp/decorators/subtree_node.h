#pragma once

#include <string>

#include "behaviortree_cpp/decorator_node.h"

namespace BT {

// Wraps the root of a tree that another tree uses as <SubTree ID="..."/>. The SubTree has a
// blackboard of its own whose parent is the blackboard of the tree it sits in: it sees the
// parent's entries only through its remapping attributes, or all of them with _autoremap.
class SubTreeNode : public DecoratorNode {
 public:
  SubTreeNode(const std::string& name, const NodeConfig& config);

  static PortsList providedPorts();

  void setSubtreeID(const std::string& ID) { subtree_id_ = ID; }
  [[nodiscard]] const std::string& subtreeID() const { return subtree_id_; }

  NodeType type() const final { return NodeType::SUBTREE; }

 protected:
  NodeStatus tick() override;

 private:
  std::string subtree_id_;
};

}  // namespace BT
