#pragma once

#include <memory>
#include <vector>

#include "std_msgs/msg/multi_array_layout.hpp"

namespace std_msgs::msg {

template <class ContainerAllocator>
struct Float64MultiArray_
    : rosidl_standin::MessagePointers<Float64MultiArray_<ContainerAllocator>> {
  using Type = Float64MultiArray_<ContainerAllocator>;
  explicit Float64MultiArray_(rosidl_runtime_cpp::MessageInitialization /*init*/ =
                                  rosidl_runtime_cpp::MessageInitialization::ALL) {}

  MultiArrayLayout_<ContainerAllocator> layout;
  std::vector<double> data;
};

using Float64MultiArray = Float64MultiArray_<std::allocator<void>>;

}  // namespace std_msgs::msg
