#pragma once

#include <chrono>
#include <cstdint>
#include <memory>

#include "rclcpp/executor.hpp"
#include "rclcpp/future_return_code.hpp"
#include "rclcpp/node.hpp"

namespace rclcpp {

// Each of these spins the node with a temporary single-threaded executor, so the node must not
// belong to another executor.
void spin(const Node::SharedPtr& node_ptr);
void spin_some(const Node::SharedPtr& node_ptr);

template <typename FutureT, typename TimeRepT = int64_t, typename TimeT = std::milli>
FutureReturnCode spin_until_future_complete(
    const Node::SharedPtr& node_ptr, const FutureT& future,
    std::chrono::duration<TimeRepT, TimeT> timeout = std::chrono::duration<TimeRepT, TimeT>(-1)) {
  executors::SingleThreadedExecutor executor;
  executor.add_node(node_ptr);
  const FutureReturnCode code = executor.spin_until_future_complete(future, timeout);
  executor.remove_node(node_ptr);
  return code;
}

}  // namespace rclcpp
