#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "behaviortree_cpp/basic_types.h"
#include "behaviortree_cpp/blackboard.h"
#include "behaviortree_cpp/exceptions.h"
#include "behaviortree_cpp/utils/wakeup_signal.hpp"

namespace BT {

// What the factory knows about a registered node type.
struct TreeNodeManifest {
  NodeType type;
  std::string registration_ID;
  PortsList ports;
  KeyValueVector metadata;
};

// Port name to the raw text written in the tree description.
using PortsRemapping = std::unordered_map<std::string, std::string>;
using NonPortAttributes = std::unordered_map<std::string, std::string>;

struct NodeConfig {
  Blackboard::Ptr blackboard;
  PortsRemapping input_ports;
  PortsRemapping output_ports;
  NonPortAttributes other_attributes;
  const TreeNodeManifest* manifest = nullptr;
  uint16_t uid = 0;
  std::string path;
};

using NodeConfiguration = NodeConfig;

class TreeNode {
 public:
  using Ptr = std::shared_ptr<TreeNode>;

  TreeNode(std::string name, NodeConfig config);
  virtual ~TreeNode() = default;
  TreeNode(const TreeNode&) = delete;
  TreeNode& operator=(const TreeNode&) = delete;

  // Ticks the node; anything thrown by tick() leaves as NodeExecutionError naming this node.
  virtual NodeStatus executeTick();

  void haltNode() { halt(); }

  [[nodiscard]] bool isHalted() const { return status() == NodeStatus::IDLE; }
  [[nodiscard]] NodeStatus status() const;
  [[nodiscard]] const std::string& name() const { return name_; }
  [[nodiscard]] const std::string& fullPath() const { return config_.path; }
  [[nodiscard]] uint16_t UID() const { return config_.uid; }
  [[nodiscard]] const std::string& registrationName() const { return registration_ID_; }
  [[nodiscard]] const NodeConfig& config() const { return config_; }
  [[nodiscard]] virtual NodeType type() const = 0;

  // Asks the owning tree to tick again at once; does nothing outside a tree.
  void emitWakeUpSignal();

  template <typename T>
  Result getInput(const std::string& key, T& destination) const;

  template <typename T>
  [[nodiscard]] Expected<T> getInput(const std::string& key) const {
    T value{};
    auto result = getInput(key, value);
    if (!result) {
      return nonstd::make_unexpected(result.error());
    }
    return value;
  }

  template <typename T>
  Result setOutput(const std::string& key, const T& value);

  // Throws std::logic_error "[<key>] not found" for a port absent from both remapping tables.
  [[nodiscard]] StringView getRawPortValue(const std::string& key) const;

  // "{key}", surrounding spaces allowed; the key (without braces) goes to stripped_pointer.
  static bool isBlackboardPointer(StringView text, StringView* stripped_pointer = nullptr);
  static StringView stripBlackboardPointer(StringView text);
  // The blackboard key a port refers to: "{=}" and "=" mean the port's own name.
  static Expected<StringView> getRemappedKey(StringView port_name, StringView remapped_port);

  // Builds T from (name, config, args...) or, failing that, (name, args...) plus the config.
  template <typename T, typename... Args>
  static std::unique_ptr<TreeNode> Instantiate(const std::string& name, const NodeConfig& config,
                                               Args... args) {
    if constexpr (std::is_constructible_v<T, const std::string&, const NodeConfig&, Args...>) {
      return std::make_unique<T>(name, config, args...);
    } else {
      auto node = std::make_unique<T>(name, args...);
      node->config() = config;
      return node;
    }
  }

 protected:
  friend class BehaviorTreeFactory;
  friend class ControlNode;
  friend class DecoratorNode;
  friend class Tree;

  NodeConfig& config() { return config_; }

  virtual NodeStatus tick() = 0;

  void resetStatus();
  // IDLE is refused: only resetStatus() may go back to it.
  void setStatus(NodeStatus new_status);

  void setRegistrationID(StringView ID) { registration_ID_ = std::string(ID); }
  void setWakeUpInstance(std::shared_ptr<WakeUpSignal> instance) { wake_up_ = std::move(instance); }

 private:
  virtual void halt() = 0;

  template <typename T>
  T parseString(const std::string& key, const std::string& text) const;

  std::string name_;
  NodeConfig config_;
  std::string registration_ID_;
  mutable std::mutex status_mutex_;
  NodeStatus status_ = NodeStatus::IDLE;
  std::shared_ptr<WakeUpSignal> wake_up_;
};

// Literal texts go through the port's own converter when it has one, so that a port declared
// as double and read as std::string yields the converted number.
template <typename T>
T TreeNode::parseString(const std::string& key, const std::string& text) const {
  if (config_.manifest) {
    const auto port = config_.manifest->ports.find(key);
    if (port != config_.manifest->ports.end() && port->second.converter()) {
      return port->second.converter()(text).template cast<T>();
    }
  }
  return convertFromString<T>(text);
}

template <typename T>
Result TreeNode::getInput(const std::string& key, T& destination) const {
  std::string port_text;
  const auto remapped = config_.input_ports.find(key);
  if (remapped != config_.input_ports.end()) {
    port_text = remapped->second;
  } else if (!config_.manifest) {
    return nonstd::make_unexpected("getInput() of node '" + fullPath() +
                                   "' failed because the manifest is nullptr (WTF?) and the "
                                   "key: [" +
                                   key + "] is missing");
  } else {
    const auto port = config_.manifest->ports.find(key);
    if (port == config_.manifest->ports.end()) {
      return nonstd::make_unexpected("getInput() of node '" + fullPath() +
                                     "' failed because the manifest doesn't contain the key: [" +
                                     key + "]");
    }
    const Any& default_value = port->second.defaultValue();
    if (default_value.empty()) {
      return nonstd::make_unexpected("getInput() of node '" + fullPath() +
                                     "' failed because nor the manifest or the XML contain the "
                                     "key: [" +
                                     key + "]");
    }
    if (!default_value.isString()) {
      destination = default_value.cast<T>();
      return {};
    }
    port_text = default_value.cast<std::string>();
  }

  const auto blackboard_key = getRemappedKey(key, port_text);
  if (!blackboard_key) {
    try {
      destination = parseString<T>(key, port_text);
    } catch (const std::exception& error) {
      return nonstd::make_unexpected(std::string("getInput(): ") + error.what());
    }
    return {};
  }
  if (!config_.blackboard) {
    return nonstd::make_unexpected("getInput(): trying to access an invalid Blackboard");
  }
  try {
    if (const auto entry = config_.blackboard->getEntry(std::string(*blackboard_key))) {
      std::unique_lock lock(entry->entry_mutex);
      if constexpr (std::is_same_v<T, Any>) {
        destination = entry->value;
        return {};
      } else if (!entry->value.empty()) {
        if (!std::is_same_v<T, std::string> && entry->value.isString()) {
          destination = parseString<T>(key, entry->value.cast<std::string>());
        } else {
          destination = entry->value.cast<T>();
        }
        return {};
      }
    }
  } catch (const std::exception& error) {
    return nonstd::make_unexpected(error.what());
  }
  return nonstd::make_unexpected("getInput() failed because it was unable to find the key [" + key +
                                 "] remapped to [" + std::string(*blackboard_key) + "]");
}

template <typename T>
Result TreeNode::setOutput(const std::string& key, const T& value) {
  if (!config_.blackboard) {
    return nonstd::make_unexpected(
        "setOutput() failed: trying to access a Blackboard(BB) entry, but BB is invalid");
  }
  const auto remapped = config_.output_ports.find(key);
  if (remapped == config_.output_ports.end()) {
    return nonstd::make_unexpected(
        "setOutput() failed: NodeConfig::output_ports does not contain the key: [" + key + "]");
  }
  const auto blackboard_key = getRemappedKey(key, remapped->second);
  if (!blackboard_key) {
    return nonstd::make_unexpected("setOutput requires a blackboard pointer. Use {}");
  }
  if constexpr (std::is_same_v<T, Any>) {
    const auto& port_type = config_.manifest->ports.at(key).type();
    if (port_type != typeid(Any) && port_type != typeid(AnyTypeAllowed)) {
      throw LogicError(
          "setOutput<Any> is not allowed, unless the port was declared using OutputPort<Any>");
    }
  }
  config_.blackboard->set(std::string(*blackboard_key), value);
  return {};
}

}  // namespace BT
