#pragma once

namespace kestrava_arm::host {

// Blackboard entries through which the plugin's nodes find the host's ROS 2 node and the
// perception service.
inline constexpr const char* kSharedNodeKey = "kestrava_arm_bt_shared_node";
inline constexpr const char* kServiceNameKey = "arm_perception_service";

}  // namespace kestrava_arm::host
