#pragma once

#include <memory>

#include "rosidl_runtime_cpp/message_initialization.hpp"

namespace geometry_msgs::msg {

template <class ContainerAllocator>
struct Point_ : rosidl_standin::MessagePointers<Point_<ContainerAllocator>> {
  using Type = Point_<ContainerAllocator>;
  explicit Point_(rosidl_runtime_cpp::MessageInitialization /*init*/ =
                      rosidl_runtime_cpp::MessageInitialization::ALL) {}

  double x = 0.0;
  double y = 0.0;
  double z = 0.0;
};

using Point = Point_<std::allocator<void>>;

}  // namespace geometry_msgs::msg
