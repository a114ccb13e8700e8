#pragma once

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "context_internal.hpp"
#include "rclcpp/callback_group.hpp"

namespace rclcpp::detail {

// What a node and its sub-nodes share: identity, context and the queue of work (requests for
// its services, responses for its clients) that the executor spinning the node runs.
class NodeCore {
 public:
  NodeCore(std::string name, std::string node_namespace, std::shared_ptr<ContextInstance> context);

  const std::string& name() const { return name_; }
  const std::string& node_namespace() const { return node_namespace_; }
  const std::string& fully_qualified_name() const { return fully_qualified_name_; }
  bool context_is_valid() const { return context_->valid; }
  const ContextInstance& context() const { return *context_; }

  // Expands and validates a client's or service's name as rcl does on creation; a rejected
  // name throws the exception rclcpp raises, `error_prefix` starting the RCLError text.
  std::string resolve_service_name(const std::string& name, const char* error_prefix) const;

  // rclcpp hands a node to its context's graph listener when the node first waits for a graph
  // change. After shutdown that first time throws: RCLError when no node had started the
  // listener (its wait set needs a valid context), GraphListenerShutdownError when one had.
  void start_graph_listening();

  // Thread-safe; wakes the executor the node belongs to, if any.
  void post(std::function<void()> work);
  // The oldest queued work, or an empty function.
  std::function<void()> take_work();
  size_t queued_work() const;

  std::atomic<bool>& associated_with_executor() { return associated_with_executor_; }
  void set_executor(std::weak_ptr<WakeTarget> executor);

  void add_callback_group(const CallbackGroup::SharedPtr& group);
  bool has_callback_group(const CallbackGroup::SharedPtr& group) const;

 private:
  const std::string name_;
  const std::string node_namespace_;
  const std::string fully_qualified_name_;
  const std::shared_ptr<ContextInstance> context_;
  std::atomic<bool> associated_with_executor_{false};
  std::atomic<bool> graph_listening_{false};

  mutable std::mutex mutex_;
  std::deque<std::function<void()>> work_;
  std::weak_ptr<WakeTarget> executor_;
  std::vector<CallbackGroup::WeakPtr> callback_groups_;
};

}  // namespace rclcpp::detail
