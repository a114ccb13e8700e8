#include "behaviortree_cpp/tree_node.h"

#include <stdexcept>

namespace BT {

TreeNode::TreeNode(std::string name, NodeConfig config)
    : name_(std::move(name)), config_(std::move(config)) {}

NodeStatus TreeNode::executeTick() {
  NodeStatus new_status;
  try {
    new_status = tick();
  } catch (const NodeExecutionError&) {
    // Keeps the innermost node that failed.
    throw;
  } catch (const std::exception& error) {
    throw NodeExecutionError(TickBacktraceEntry{name(), fullPath(), registrationName()},
                             error.what());
  }
  // SKIPPED is reported to the parent but leaves the node IDLE.
  if (new_status != NodeStatus::SKIPPED) {
    setStatus(new_status);
  }
  return new_status;
}

NodeStatus TreeNode::status() const {
  std::lock_guard lock(status_mutex_);
  return status_;
}

void TreeNode::resetStatus() {
  std::lock_guard lock(status_mutex_);
  status_ = NodeStatus::IDLE;
}

void TreeNode::setStatus(NodeStatus new_status) {
  if (new_status == NodeStatus::IDLE) {
    throw RuntimeError("Node [", name(),
                       "]: you are not allowed to set manually the status to IDLE. If you know "
                       "what you are doing (?) use resetStatus() instead.");
  }
  std::lock_guard lock(status_mutex_);
  status_ = new_status;
}

void TreeNode::emitWakeUpSignal() {
  if (wake_up_) {
    wake_up_->emitSignal();
  }
}

StringView TreeNode::getRawPortValue(const std::string& key) const {
  for (const auto* remapping : {&config_.input_ports, &config_.output_ports}) {
    const auto it = remapping->find(key);
    if (it != remapping->end()) {
      return it->second;
    }
  }
  throw std::logic_error("[" + key + "] not found");
}

bool TreeNode::isBlackboardPointer(StringView text, StringView* stripped_pointer) {
  const auto first = text.find_first_not_of(' ');
  if (first == StringView::npos) {
    return false;
  }
  const auto trimmed = text.substr(first, text.find_last_not_of(' ') - first + 1);
  const bool valid = trimmed.size() >= 3 && trimmed.front() == '{' && trimmed.back() == '}';
  if (valid && stripped_pointer) {
    *stripped_pointer = trimmed.substr(1, trimmed.size() - 2);
  }
  return valid;
}

StringView TreeNode::stripBlackboardPointer(StringView text) {
  StringView key;
  return isBlackboardPointer(text, &key) ? key : StringView();
}

Expected<StringView> TreeNode::getRemappedKey(StringView port_name, StringView remapped_port) {
  if (remapped_port == "{=}" || remapped_port == "=") {
    return port_name;
  }
  StringView key;
  if (isBlackboardPointer(remapped_port, &key)) {
    return key;
  }
  return nonstd::make_unexpected("Not a blackboard pointer");
}

}  // namespace BT
