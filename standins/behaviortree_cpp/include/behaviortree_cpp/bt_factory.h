#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "behaviortree_cpp/behavior_tree.h"

namespace BT {

// Name of the entry point a plugin library exports.
constexpr const char* PLUGIN_SYMBOL = "BT_RegisterNodesFromPlugin";

#ifdef BT_PLUGIN_EXPORT
#define BT_REGISTER_NODES(factory)                                                   \
  extern "C" __attribute__((visibility("default"))) void BT_RegisterNodesFromPlugin( \
      BT::BehaviorTreeFactory& factory)
#else
// Without BT_PLUGIN_EXPORT the entry point has internal linkage, for nodes linked statically.
#define BT_REGISTER_NODES(factory) \
  static void BT_RegisterNodesFromPlugin(BT::BehaviorTreeFactory& factory)
#endif

using NodeBuilder = std::function<std::unique_ptr<TreeNode>(const std::string&, const NodeConfig&)>;

template <typename T>
constexpr NodeType getType() {
  if constexpr (std::is_base_of_v<ActionNodeBase, T>) {
    return NodeType::ACTION;
  } else if constexpr (std::is_base_of_v<ControlNode, T>) {
    return NodeType::CONTROL;
  } else if constexpr (std::is_base_of_v<SubTreeNode, T>) {
    return NodeType::SUBTREE;
  } else if constexpr (std::is_base_of_v<DecoratorNode, T>) {
    return NodeType::DECORATOR;
  } else {
    return NodeType::UNDEFINED;
  }
}

template <typename T>
[[nodiscard]] TreeNodeManifest CreateManifest(const std::string& ID,
                                              PortsList portlist = getProvidedPorts<T>()) {
  KeyValueVector metadata;
  if constexpr (has_static_method_metadata<T>::value) {
    metadata = T::metadata();
  }
  return {getType<T>(), ID, std::move(portlist), std::move(metadata)};
}

template <typename T, typename... Args>
[[nodiscard]] NodeBuilder CreateBuilder(Args... args) {
  return [=](const std::string& name, const NodeConfig& config) {
    return TreeNode::Instantiate<T, Args...>(name, config, args...);
  };
}

// An instantiated tree: owns its nodes and the blackboards of the main tree and of each SubTree.
class Tree {
 public:
  struct Subtree {
    using Ptr = std::shared_ptr<Subtree>;
    std::vector<TreeNode::Ptr> nodes;
    Blackboard::Ptr blackboard;
    std::string instance_name;
    std::string tree_ID;
  };

  // The main tree first, then each SubTree in the order the trees were built.
  std::vector<Subtree::Ptr> subtrees;
  std::unordered_map<std::string, TreeNodeManifest> manifests;

  Tree() = default;
  Tree(const Tree&) = delete;
  Tree& operator=(const Tree&) = delete;
  Tree(Tree&&) = default;
  Tree& operator=(Tree&&) = default;
  // Halts the tree, so that RUNNING nodes get onHalted().
  ~Tree();

  // Gives the nodes the tree's wake-up signal and points them at the tree's manifests.
  void initialize();

  [[nodiscard]] TreeNode* rootNode() const;
  [[nodiscard]] Blackboard::Ptr rootBlackboard();

  void haltTree();

  // Ticks again at once while the result is RUNNING and a node asked for it.
  NodeStatus tickOnce();
  NodeStatus tickExactlyOnce();
  NodeStatus tickWhileRunning(std::chrono::milliseconds sleep_time = std::chrono::milliseconds(10));

  // Waits for a wake-up signal; true if one came before the timeout.
  bool sleep(std::chrono::system_clock::duration timeout);

 private:
  enum class TickOption { EXACTLY_ONCE, ONCE_UNLESS_WOKEN_UP, WHILE_RUNNING };

  NodeStatus tickRoot(TickOption option, std::chrono::milliseconds sleep_time);

  std::shared_ptr<WakeUpSignal> wake_up_;
};

class BehaviorTreeFactory {
 public:
  BehaviorTreeFactory();
  ~BehaviorTreeFactory();
  BehaviorTreeFactory(const BehaviorTreeFactory&) = delete;
  BehaviorTreeFactory& operator=(const BehaviorTreeFactory&) = delete;
  BehaviorTreeFactory(BehaviorTreeFactory&&) noexcept;
  BehaviorTreeFactory& operator=(BehaviorTreeFactory&&) noexcept;

  // Throws BehaviorTreeException if the ID is already registered.
  void registerBuilder(const TreeNodeManifest& manifest, const NodeBuilder& builder);

  template <typename T>
  void registerBuilder(const std::string& ID, const NodeBuilder& builder) {
    registerBuilder(CreateManifest<T>(ID), builder);
  }

  template <typename T, typename... ExtraArgs>
  void registerNodeType(const std::string& ID, const PortsList& ports, ExtraArgs... args) {
    static_assert(std::is_base_of_v<ActionNodeBase, T> || std::is_base_of_v<ControlNode, T> ||
                      std::is_base_of_v<DecoratorNode, T>,
                  "[registerNode]: accepts only classes that inherit from ActionNodeBase, "
                  "ControlNode or DecoratorNode");
    static_assert(!std::is_abstract_v<T>, "[registerNode]: Some methods are pure virtual");
    static_assert(std::is_constructible_v<T, const std::string&, const NodeConfig&, ExtraArgs...> ||
                      std::is_constructible_v<T, const std::string&, ExtraArgs...>,
                  "[registerNode]: the class needs a constructor (const std::string&, const "
                  "NodeConfig&, ...) or (const std::string&, ...)");
    registerBuilder(CreateManifest<T>(ID, ports), CreateBuilder<T>(args...));
  }

  template <typename T, typename... ExtraArgs>
  void registerNodeType(const std::string& ID, ExtraArgs... args) {
    registerNodeType<T>(ID, getProvidedPorts<T>(), args...);
  }

  void registerSimpleAction(const std::string& ID,
                            const SimpleActionNode::TickFunctor& tick_functor,
                            PortsList ports = {});

  // Loads a shared library and calls its BT_RegisterNodesFromPlugin on this factory.
  void registerFromPlugin(const std::string& file_path);

  [[nodiscard]] std::unique_ptr<TreeNode> instantiateTreeNode(const std::string& name,
                                                              const std::string& ID,
                                                              const NodeConfig& config) const;

  [[nodiscard]] const std::unordered_map<std::string, NodeBuilder>& builders() const;
  [[nodiscard]] const std::unordered_map<std::string, TreeNodeManifest>& manifests() const;
  [[nodiscard]] const std::set<std::string>& builtinNodes() const;

  // Builds the main tree of the document on `blackboard` as its root blackboard; each SubTree
  // gets a blackboard of its own below it.
  [[nodiscard]] Tree createTreeFromText(const std::string& text,
                                        Blackboard::Ptr blackboard = Blackboard::create());
  // Throws std::filesystem::filesystem_error for a path without a folder (a bare file name).
  [[nodiscard]] Tree createTreeFromFile(const std::filesystem::path& file_path,
                                        Blackboard::Ptr blackboard = Blackboard::create());

 private:
  template <typename T>
  void registerBuiltin(const std::string& ID);

  struct Registry;
  std::unique_ptr<Registry> registry_;
};

}  // namespace BT
