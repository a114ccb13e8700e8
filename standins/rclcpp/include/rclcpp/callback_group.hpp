#pragma once

#include <memory>

namespace rclcpp {

enum class CallbackGroupType { MutuallyExclusive, Reentrant };

// Groups a node's callbacks. Here every callback of a node runs on the executor that spins the
// node, one at a time, whatever its group.
class CallbackGroup {
 public:
  using SharedPtr = std::shared_ptr<CallbackGroup>;
  using WeakPtr = std::weak_ptr<CallbackGroup>;

  explicit CallbackGroup(CallbackGroupType group_type,
                         bool automatically_add_to_executor_with_node = true)
      : type_(group_type), automatically_add_(automatically_add_to_executor_with_node) {}

  CallbackGroupType type() const { return type_; }
  bool automatically_add_to_executor_with_node() const { return automatically_add_; }

 private:
  CallbackGroupType type_;
  bool automatically_add_;
};

}  // namespace rclcpp
