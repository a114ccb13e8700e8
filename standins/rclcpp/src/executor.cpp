#include "rclcpp/executor.hpp"

#include <condition_variable>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <utility>
#include <vector>

#include "context_internal.hpp"
#include "node_core.hpp"
#include "rclcpp/executors.hpp"

namespace rclcpp {
namespace detail {

// The nodes of one executor and the condition variable its spin sleeps on. Lock order: the
// executor's mutex before a node's; nodes wake the executor only after releasing their own.
class ExecutorCore : public WakeTarget {
 public:
  void add(const std::shared_ptr<NodeCore>& node) {
    std::lock_guard<std::mutex> lock(mutex_);
    nodes_.push_back(node);
  }

  bool remove(const std::shared_ptr<NodeCore>& node) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = nodes_.begin(); it != nodes_.end(); ++it) {
      if (it->lock() == node) {
        nodes_.erase(it);
        return true;
      }
    }
    return false;
  }

  std::vector<std::shared_ptr<NodeCore>> release_all() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::shared_ptr<NodeCore>> alive;
    for (const auto& weak : nodes_) {
      if (auto node = weak.lock()) {
        alive.push_back(std::move(node));
      }
    }
    nodes_.clear();
    return alive;
  }

  void wake() override {
    { std::lock_guard<std::mutex> lock(mutex_); }
    changed_.notify_all();
  }

  // Work to run, or an empty function once `spinning` is false, the context is shut down or
  // the deadline (none: no limit) has passed.
  std::function<void()> wait_for_work(std::optional<std::chrono::steady_clock::time_point> deadline,
                                      const std::atomic<bool>& spinning) {
    std::function<void()> work;
    const auto done = [&] {
      if (!spinning || !global_context_is_valid()) {
        return true;
      }
      work = take_work_locked();
      return static_cast<bool>(work);
    };
    std::unique_lock<std::mutex> lock(mutex_);
    if (deadline) {
      changed_.wait_until(lock, *deadline, done);
    } else {
      changed_.wait(lock, done);
    }
    return work;
  }

  std::function<void()> take_work() {
    std::lock_guard<std::mutex> lock(mutex_);
    return take_work_locked();
  }

  size_t queued_work() const {
    std::lock_guard<std::mutex> lock(mutex_);
    size_t count = 0;
    for (const auto& weak : nodes_) {
      if (auto node = weak.lock()) {
        count += node->queued_work();
      }
    }
    return count;
  }

 private:
  // Round robin over the nodes, so one busy node cannot starve the others.
  std::function<void()> take_work_locked() {
    for (size_t tried = 0; tried < nodes_.size(); ++tried) {
      const size_t index = (next_ + tried) % nodes_.size();
      if (auto node = nodes_[index].lock()) {
        if (auto work = node->take_work()) {
          next_ = index + 1;
          return work;
        }
      }
    }
    return {};
  }

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::weak_ptr<NodeCore>> nodes_;
  size_t next_ = 0;
};

}  // namespace detail

Executor::Executor(const ExecutorOptions& /*options*/)
    : core_(std::make_shared<detail::ExecutorCore>()) {
  // rclcpp's executor starts with its guard conditions, which need a valid context.
  detail::valid_context_instance("failed to create guard condition");
  detail::register_wake_target(core_);
}

Executor::~Executor() {
  for (const auto& node : core_->release_all()) {
    node->set_executor({});
    node->associated_with_executor() = false;
  }
}

void Executor::add_node(const std::shared_ptr<Node>& node_ptr, bool /*notify*/) {
  const auto& node = node_ptr->core_;
  if (node->associated_with_executor().exchange(true)) {
    throw std::runtime_error("Node '" + node->fully_qualified_name() +
                             "' has already been added to an executor.");
  }
  core_->add(node);
  node->set_executor(core_);
  core_->wake();
}

void Executor::remove_node(const std::shared_ptr<Node>& node_ptr, bool /*notify*/) {
  const auto& node = node_ptr->core_;
  if (!node->associated_with_executor()) {
    throw std::runtime_error("Node needs to be associated with an executor.");
  }
  if (!core_->remove(node)) {
    throw std::runtime_error("Node needs to be associated with this executor.");
  }
  node->set_executor({});
  node->associated_with_executor() = false;
}

void Executor::spin_some(std::chrono::nanoseconds max_duration) {
  SpinGuard guard(*this, "spin_some() called while already spinning");
  const auto start = std::chrono::steady_clock::now();
  const auto time_left = [&] {
    return max_duration == std::chrono::nanoseconds(0) ||
           std::chrono::steady_clock::now() - start < max_duration;
  };
  // Only what is queued now: work that this work queues waits for the next spin. A negative
  // duration has always elapsed, so it runs nothing.
  for (size_t budget = core_->queued_work(); budget > 0 && spinning_and_ok() && time_left();
       --budget) {
    auto work = core_->take_work();
    if (!work) {
      break;
    }
    work();
  }
}

void Executor::spin_once(std::chrono::nanoseconds timeout) {
  SpinGuard guard(*this, "spin_once() called while already spinning");
  spin_once_impl(timeout);
}

void Executor::cancel() {
  spinning = false;
  core_->wake();
}

Executor::SpinGuard::SpinGuard(Executor& executor, const char* already_spinning_error)
    : executor_(executor) {
  if (executor_.spinning.exchange(true)) {
    throw std::runtime_error(already_spinning_error);
  }
}

Executor::SpinGuard::~SpinGuard() {
  executor_.spinning = false;
}

bool Executor::spinning_and_ok() const {
  return spinning && detail::global_context_is_valid();
}

void Executor::spin_once_impl(std::chrono::nanoseconds timeout) {
  std::optional<std::chrono::steady_clock::time_point> deadline;
  if (timeout >= std::chrono::nanoseconds(0)) {
    deadline = std::chrono::steady_clock::now() + timeout;
  }
  if (auto work = core_->wait_for_work(deadline, spinning)) {
    work();
  }
}

namespace executors {

void SingleThreadedExecutor::spin() {
  SpinGuard guard(*this, "spin() called while already spinning");
  while (spinning_and_ok()) {
    spin_once_impl(std::chrono::nanoseconds(-1));
  }
}

}  // namespace executors

void spin(const Node::SharedPtr& node_ptr) {
  executors::SingleThreadedExecutor executor;
  executor.add_node(node_ptr);
  executor.spin();
  executor.remove_node(node_ptr);
}

void spin_some(const Node::SharedPtr& node_ptr) {
  executors::SingleThreadedExecutor executor;
  executor.add_node(node_ptr);
  executor.spin_some();
  executor.remove_node(node_ptr);
}

std::string to_string(const FutureReturnCode& future_return_code) {
  switch (future_return_code) {
    case FutureReturnCode::SUCCESS:
      return "SUCCESS (0)";
    case FutureReturnCode::INTERRUPTED:
      return "INTERRUPTED (1)";
    case FutureReturnCode::TIMEOUT:
      return "TIMEOUT (2)";
  }
  return "UNKNOWN";
}

}  // namespace rclcpp
