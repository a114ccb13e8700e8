#pragma once

#include <memory>

#include "rosidl_runtime_cpp/message_initialization.hpp"

namespace geometry_msgs::msg {

template <class ContainerAllocator>
struct Vector3_ : rosidl_standin::MessagePointers<Vector3_<ContainerAllocator>> {
  using Type = Vector3_<ContainerAllocator>;
  explicit Vector3_(rosidl_runtime_cpp::MessageInitialization /*init*/ =
                        rosidl_runtime_cpp::MessageInitialization::ALL) {}

  double x = 0.0;
  double y = 0.0;
  double z = 0.0;
};

using Vector3 = Vector3_<std::allocator<void>>;

}  // namespace geometry_msgs::msg
