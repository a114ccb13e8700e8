#include "rclcpp/node.hpp"

#include <algorithm>
#include <stdexcept>
#include <utility>

#include "names.hpp"
#include "node_core.hpp"
#include "rclcpp/context.hpp"
#include "rclcpp/exceptions.hpp"
#include "rclcpp/expand_topic_or_service_name.hpp"
#include "rclcpp/graph_listener.hpp"

namespace rclcpp {
namespace detail {

NodeCore::NodeCore(std::string name, std::string node_namespace,
                   std::shared_ptr<ContextInstance> context)
    : name_(std::move(name)),
      node_namespace_(std::move(node_namespace)),
      fully_qualified_name_(join_namespace(node_namespace_, name_)),
      context_(std::move(context)) {}

std::string NodeCore::resolve_service_name(const std::string& name,
                                           const char* error_prefix) const {
  if (!context_is_valid()) {
    RCL_SET_ERROR_MSG("rcl node's context is invalid");
    exceptions::throw_from_rcl_error(RCL_RET_NODE_INVALID, error_prefix);
  }
  if (!validate_input_name(name)) {
    const auto expanded = expand_name(name, name_, node_namespace_);
    if (expanded && !validate_full_name(*expanded)) {
      return *expanded;
    }
  }
  expand_topic_or_service_name(name, name_, node_namespace_, true);
  exceptions::throw_from_rcl_error(RCL_RET_SERVICE_NAME_INVALID, error_prefix);
}

void NodeCore::start_graph_listening() {
  if (graph_listening_.exchange(true)) {
    return;
  }
  if (context_->valid) {
    context_->graph_listener_started = true;
    return;
  }
  if (context_->graph_listener_started) {
    throw graph_listener::GraphListenerShutdownError();
  }
  throw_context_not_valid("failed to initialize wait set");
}

void NodeCore::post(std::function<void()> work) {
  std::shared_ptr<WakeTarget> executor;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    work_.push_back(std::move(work));
    executor = executor_.lock();
  }
  if (executor) {
    executor->wake();
  }
}

std::function<void()> NodeCore::take_work() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (work_.empty()) {
    return {};
  }
  auto work = std::move(work_.front());
  work_.pop_front();
  return work;
}

size_t NodeCore::queued_work() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return work_.size();
}

void NodeCore::set_executor(std::weak_ptr<WakeTarget> executor) {
  std::lock_guard<std::mutex> lock(mutex_);
  executor_ = std::move(executor);
}

void NodeCore::add_callback_group(const CallbackGroup::SharedPtr& group) {
  std::lock_guard<std::mutex> lock(mutex_);
  callback_groups_.push_back(group);
}

bool NodeCore::has_callback_group(const CallbackGroup::SharedPtr& group) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return std::any_of(callback_groups_.begin(), callback_groups_.end(),
                     [&group](const auto& weak) { return weak.lock() == group; });
}

}  // namespace detail

namespace {

std::string absolute_namespace(const std::string& namespace_) {
  if (namespace_.empty()) {
    return "/";
  }
  return namespace_.front() == '/' ? namespace_ : "/" + namespace_;
}

std::shared_ptr<detail::NodeCore> make_node_core(const std::string& node_name,
                                                 const std::string& namespace_) {
  // Node creation starts with the node's guard condition, which needs a valid context.
  auto context = detail::valid_context_instance("failed to create guard condition");
  if (const auto issue = detail::validate_node_name(node_name)) {
    throw exceptions::InvalidNodeNameError(node_name.c_str(), issue->message, issue->index);
  }
  std::string node_namespace = absolute_namespace(namespace_);
  if (detail::validate_namespace(node_namespace)) {
    // Reported on the namespace as given: a relative one fails as not absolute.
    const auto issue = detail::validate_namespace(namespace_).value();
    throw exceptions::InvalidNamespaceError(namespace_.c_str(), issue.message, issue.index);
  }
  return std::make_shared<detail::NodeCore>(node_name, std::move(node_namespace),
                                            std::move(context));
}

std::string extend_sub_namespace(const std::string& existing, const std::string& extension) {
  if (extension.empty()) {
    throw exceptions::NameValidationError(
        "sub_namespace", extension.c_str(),
        "sub-nodes should not extend nodes by an empty sub-namespace", 0);
  }
  if (extension.front() == '/') {
    throw exceptions::NameValidationError("sub_namespace", extension.c_str(),
                                          "a sub-namespace should not have a leading /", 0);
  }
  std::string extended = existing.empty() ? extension : existing + "/" + extension;
  if (extended.back() == '/') {
    extended.pop_back();
  }
  return extended;
}

std::string effective_namespace(const std::string& node_namespace,
                                const std::string& sub_namespace) {
  if (sub_namespace.empty()) {
    return node_namespace;
  }
  return node_namespace.back() == '/' ? node_namespace + sub_namespace
                                      : node_namespace + "/" + sub_namespace;
}

}  // namespace

Node::Node(const std::string& node_name, const NodeOptions& options)
    : Node(node_name, "", options) {}

Node::Node(const std::string& node_name, const std::string& namespace_,
           const NodeOptions& /*options*/)
    : core_(make_node_core(node_name, namespace_)), effective_namespace_(core_->node_namespace()) {}

Node::Node(const Node& other, const std::string& sub_namespace)
    : core_(other.core_),
      sub_namespace_(extend_sub_namespace(other.sub_namespace_, sub_namespace)),
      effective_namespace_(effective_namespace(core_->node_namespace(), sub_namespace_)) {
  if (const auto issue = detail::validate_namespace(effective_namespace_)) {
    throw exceptions::InvalidNamespaceError(effective_namespace_.c_str(), issue->message,
                                            issue->index);
  }
}

Node::~Node() = default;

const char* Node::get_name() const {
  return core_->name().c_str();
}

const char* Node::get_namespace() const {
  return core_->node_namespace().c_str();
}

const char* Node::get_fully_qualified_name() const {
  return core_->fully_qualified_name().c_str();
}

const std::string& Node::get_sub_namespace() const {
  return sub_namespace_;
}

const std::string& Node::get_effective_namespace() const {
  return effective_namespace_;
}

Node::SharedPtr Node::create_sub_node(const std::string& sub_namespace) {
  return SharedPtr(new Node(*this, sub_namespace));
}

CallbackGroup::SharedPtr Node::create_callback_group(CallbackGroupType group_type,
                                                     bool automatically_add_to_executor_with_node) {
  auto group = std::make_shared<CallbackGroup>(group_type, automatically_add_to_executor_with_node);
  core_->add_callback_group(group);
  return group;
}

std::string Node::extend_name_with_sub_namespace(const std::string& name) const {
  const bool relative = name.empty() || (name.front() != '/' && name.front() != '~');
  return !sub_namespace_.empty() && relative ? sub_namespace_ + "/" + name : name;
}

void Node::check_group_in_node(const CallbackGroup::SharedPtr& group, const char* error) const {
  if (group && !core_->has_callback_group(group)) {
    throw std::runtime_error(error);
  }
}

}  // namespace rclcpp
