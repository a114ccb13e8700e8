#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "rosidl_runtime_cpp/message_initialization.hpp"

namespace std_msgs::msg {

template <class ContainerAllocator>
struct MultiArrayDimension_
    : rosidl_standin::MessagePointers<MultiArrayDimension_<ContainerAllocator>> {
  using Type = MultiArrayDimension_<ContainerAllocator>;
  explicit MultiArrayDimension_(rosidl_runtime_cpp::MessageInitialization /*init*/ =
                                    rosidl_runtime_cpp::MessageInitialization::ALL) {}

  std::string label;
  uint32_t size = 0;
  uint32_t stride = 0;
};

using MultiArrayDimension = MultiArrayDimension_<std::allocator<void>>;

}  // namespace std_msgs::msg
