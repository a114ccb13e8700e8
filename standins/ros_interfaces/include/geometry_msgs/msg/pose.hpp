#pragma once

#include <memory>

#include "geometry_msgs/msg/point.hpp"
#include "geometry_msgs/msg/quaternion.hpp"

namespace geometry_msgs::msg {

template <class ContainerAllocator>
struct Pose_ : rosidl_standin::MessagePointers<Pose_<ContainerAllocator>> {
  using Type = Pose_<ContainerAllocator>;
  explicit Pose_(rosidl_runtime_cpp::MessageInitialization init =
                     rosidl_runtime_cpp::MessageInitialization::ALL)
      : position(init), orientation(init) {}

  Point_<ContainerAllocator> position;
  Quaternion_<ContainerAllocator> orientation;
};

using Pose = Pose_<std::allocator<void>>;

}  // namespace geometry_msgs::msg
