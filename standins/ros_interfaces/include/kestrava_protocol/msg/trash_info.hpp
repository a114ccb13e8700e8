#pragma once

#include <cstdint>
#include <memory>

#include "geometry_msgs/msg/pose.hpp"
#include "geometry_msgs/msg/vector3.hpp"

namespace kestrava_protocol::msg {

// A detected piece of trash, as the perception stack reports it.
template <class ContainerAllocator>
struct TrashInfo_ : rosidl_standin::MessagePointers<TrashInfo_<ContainerAllocator>> {
  using Type = TrashInfo_<ContainerAllocator>;
  explicit TrashInfo_(rosidl_runtime_cpp::MessageInitialization init =
                          rosidl_runtime_cpp::MessageInitialization::ALL)
      : map_pose(init), grab_pose(init), obb_pose(init), obb_size(init) {}

  uint8_t class_id = 0;
  uint8_t location = 0;
  uint8_t mainaxis_type = 0;
  bool is_transparent = false;
  geometry_msgs::msg::Pose_<ContainerAllocator> map_pose;
  geometry_msgs::msg::Pose_<ContainerAllocator> grab_pose;
  geometry_msgs::msg::Pose_<ContainerAllocator> obb_pose;
  geometry_msgs::msg::Vector3_<ContainerAllocator> obb_size;
};

using TrashInfo = TrashInfo_<std::allocator<void>>;

}  // namespace kestrava_protocol::msg
