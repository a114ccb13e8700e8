#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "std_msgs/msg/multi_array_dimension.hpp"

namespace std_msgs::msg {

template <class ContainerAllocator>
struct MultiArrayLayout_ : rosidl_standin::MessagePointers<MultiArrayLayout_<ContainerAllocator>> {
  using Type = MultiArrayLayout_<ContainerAllocator>;
  explicit MultiArrayLayout_(rosidl_runtime_cpp::MessageInitialization /*init*/ =
                                 rosidl_runtime_cpp::MessageInitialization::ALL) {}

  std::vector<MultiArrayDimension_<ContainerAllocator>> dim;
  uint32_t data_offset = 0;
};

using MultiArrayLayout = MultiArrayLayout_<std::allocator<void>>;

}  // namespace std_msgs::msg
