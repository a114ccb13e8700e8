#pragma once

#include <memory>

#include "rosidl_runtime_cpp/message_initialization.hpp"

namespace geometry_msgs::msg {

template <class ContainerAllocator>
struct Quaternion_ : rosidl_standin::MessagePointers<Quaternion_<ContainerAllocator>> {
  using Type = Quaternion_<ContainerAllocator>;
  // w has the IDL default 1.0 (the identity rotation); ZERO initialisation ignores it.
  explicit Quaternion_(rosidl_runtime_cpp::MessageInitialization init =
                           rosidl_runtime_cpp::MessageInitialization::ALL)
      : w(init == rosidl_runtime_cpp::MessageInitialization::ZERO ? 0.0 : 1.0) {}

  double x = 0.0;
  double y = 0.0;
  double z = 0.0;
  double w;
};

using Quaternion = Quaternion_<std::allocator<void>>;

}  // namespace geometry_msgs::msg
