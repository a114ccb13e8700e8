#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <future>
#include <memory>

#include "rclcpp/future_return_code.hpp"
#include "rclcpp/node.hpp"

namespace rclcpp {

namespace detail {
class ExecutorCore;
}  // namespace detail

struct ExecutorOptions {};

// Runs the callbacks of its nodes (service requests, client responses) on the thread that
// calls one of its spin functions. Idle spinning sleeps on a condition variable.
class Executor {
 public:
  // Throws what a node's constructor throws when the context is not valid.
  explicit Executor(const ExecutorOptions& options = ExecutorOptions());
  Executor(const Executor&) = delete;
  Executor& operator=(const Executor&) = delete;
  // Releases its nodes, so they can be added to another executor.
  virtual ~Executor();

  virtual void spin() = 0;

  // Throws std::runtime_error if the node already belongs to an executor.
  void add_node(const std::shared_ptr<Node>& node_ptr, bool notify = true);
  void remove_node(const std::shared_ptr<Node>& node_ptr, bool notify = true);

  // Runs the work that is ready now; 0 means no time limit, a negative duration runs nothing.
  void spin_some(std::chrono::nanoseconds max_duration = std::chrono::nanoseconds(0));
  // Waits up to `timeout` (negative: without limit) for one item of work and runs it.
  void spin_once(std::chrono::nanoseconds timeout = std::chrono::nanoseconds(-1));

  template <typename FutureT, typename TimeRepT = int64_t, typename TimeT = std::milli>
  FutureReturnCode spin_until_future_complete(
      const FutureT& future,
      std::chrono::duration<TimeRepT, TimeT> timeout = std::chrono::duration<TimeRepT, TimeT>(-1)) {
    if (is_ready(future)) {
      return FutureReturnCode::SUCCESS;
    }
    const auto timeout_ns = std::chrono::duration_cast<std::chrono::nanoseconds>(timeout);
    const auto end = std::chrono::steady_clock::now() + timeout_ns;
    SpinGuard guard(*this, "spin_until_future_complete() called while already spinning");
    while (spinning_and_ok()) {
      const auto left = timeout_ns < std::chrono::nanoseconds(0)
                            ? timeout_ns
                            : std::max(std::chrono::nanoseconds(0),
                                       std::chrono::duration_cast<std::chrono::nanoseconds>(
                                           end - std::chrono::steady_clock::now()));
      spin_once_impl(left);
      if (is_ready(future)) {
        return FutureReturnCode::SUCCESS;
      }
      if (timeout_ns >= std::chrono::nanoseconds(0) && std::chrono::steady_clock::now() >= end) {
        return FutureReturnCode::TIMEOUT;
      }
    }
    return FutureReturnCode::INTERRUPTED;
  }

  // Makes the running spin return; thread-safe.
  void cancel();

 protected:
  // Marks the executor as spinning for one spin call; a second concurrent call throws.
  class SpinGuard {
   public:
    SpinGuard(Executor& executor, const char* already_spinning_error);
    SpinGuard(const SpinGuard&) = delete;
    SpinGuard& operator=(const SpinGuard&) = delete;
    ~SpinGuard();

   private:
    Executor& executor_;
  };

  bool spinning_and_ok() const;
  void spin_once_impl(std::chrono::nanoseconds timeout);

  std::atomic<bool> spinning{false};

 private:
  template <typename FutureT>
  static bool is_ready(const FutureT& future) {
    return future.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
  }

  std::shared_ptr<detail::ExecutorCore> core_;
};

namespace executors {

class SingleThreadedExecutor : public Executor {
 public:
  explicit SingleThreadedExecutor(const ExecutorOptions& options = ExecutorOptions())
      : Executor(options) {}

  // Blocks running work until cancel() or shutdown.
  void spin() override;
};

}  // namespace executors

}  // namespace rclcpp
