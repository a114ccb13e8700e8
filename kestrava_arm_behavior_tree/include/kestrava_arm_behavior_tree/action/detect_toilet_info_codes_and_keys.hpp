#pragma once

// What trees and hosts see of DetectToiletInfo besides its ports: the outcome codes it
// publishes and the blackboard entries it reads.
namespace kestrava_arm::bt {

// Values of the output port "error_code": what the perception service's answer said.
inline constexpr int kErrorNone = 102200000;
inline constexpr int kErrorNoDetection = 102300001;  // "success" false or no arm-base pose
inline constexpr int kErrorBadResponse = 102200002;  // the answer could not be handled

// Values of the output port "status_code": how the run ended.
inline constexpr int kStatusInitial = 102500000;  // no run has ended yet
inline constexpr int kStatusServiceUnavailable = 102501005;
inline constexpr int kStatusSucceeded = 102501006;
inline constexpr int kStatusDetectionFailed = 102300001;
inline constexpr int kStatusTimeout = 102501008;

// Put on the blackboard by the host before it builds the tree; read when a node is built.
// Every entry is read from the node's own blackboard (a local entry, or a SubTree's remapping)
// and, where it is not there, from the tree's root blackboard.
inline constexpr const char* kSharedNodeKey = "kestrava_arm_bt_shared_node";  // rclcpp::Node
inline constexpr const char* kServiceNameKey = "arm_perception_service";      // std::string
// The shared node as Nav2's tree executor names it, read when kSharedNodeKey is in neither place.
inline constexpr const char* kExecutorNodeKey = "node";  // rclcpp::Node
// Whether the node's client publishes its service events: "off" (also when absent), "metadata" or
// "contents" (service_introspection.hpp); std::string.
inline constexpr const char* kIntrospectionKey = "perception_introspection";

// Task settings, all std::string, read at every start of a run; each one is optional.
inline constexpr const char* kToiletDataPathKey = "toilet_data_path";
inline constexpr const char* kTaskInfoKey = "task_info";  // e.g. "task_uid:42;task_name:bowl"
inline constexpr const char* kArucoConfigPathKey = "aruco_config_path";
inline constexpr const char* kFixTrajectoryPathKey = "fix_trajectory_path";
inline constexpr const char* kCameraFrameIdKey = "camera_frame_id";

}  // namespace kestrava_arm::bt
