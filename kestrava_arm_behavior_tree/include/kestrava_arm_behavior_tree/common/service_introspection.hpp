#pragma once

#include <optional>
#include <stdexcept>
#include <string>

#include "rclcpp/rclcpp.hpp"
#include "rclcpp/version.h"

// Service introspection of the perception link: a client or a service that publishes an event
// for every request and answer on "<service>/_service_event", for `ros2 service echo`, rosbag2
// and check_perception_service --watch. rclcpp has it from ROS 2 Jazzy (rclcpp 28) on.
namespace kestrava_arm::bt {

enum class IntrospectionMode { kOff, kMetadata, kContents };

// "off", "metadata" (the events without the documents) or "contents"; nothing for other texts.
inline std::optional<IntrospectionMode> ParseIntrospectionMode(const std::string& text) {
  if (text == "off") {
    return IntrospectionMode::kOff;
  }
  if (text == "metadata") {
    return IntrospectionMode::kMetadata;
  }
  if (text == "contents") {
    return IntrospectionMode::kContents;
  }
  return std::nullopt;
}

// The text ParseIntrospectionMode reads back, for blackboard entries and logs.
inline const char* IntrospectionModeName(IntrospectionMode mode) {
  switch (mode) {
    case IntrospectionMode::kMetadata:
      return "metadata";
    case IntrospectionMode::kContents:
      return "contents";
    case IntrospectionMode::kOff:
      break;
  }
  return "off";
}

// Why this build cannot publish service events; nothing where it can.
inline std::optional<std::string> IntrospectionUnsupported() {
#if RCLCPP_VERSION_GTE(28, 0, 0)
  return std::nullopt;
#else
  return std::string("service introspection needs ROS 2 Jazzy or later; this build has rclcpp ") +
         RCLCPP_VERSION_STR + ", of ROS 2 Humble";
#endif
}

// Makes a client or a service publish its events; throws std::runtime_error where this build
// cannot, so that asking for introspection is never silently ignored. The events go out with the
// services' QoS (reliable, the last 10 kept), what `ros2 service echo` subscribes with: the
// system default keeps fewer, and a watch would miss the events of a burst.
template <typename Endpoint>
void ConfigureIntrospection(Endpoint& endpoint, rclcpp::Node& node, IntrospectionMode mode) {
#if RCLCPP_VERSION_GTE(28, 0, 0)
  const rcl_service_introspection_state_t state =
      mode == IntrospectionMode::kContents   ? RCL_SERVICE_INTROSPECTION_CONTENTS
      : mode == IntrospectionMode::kMetadata ? RCL_SERVICE_INTROSPECTION_METADATA
                                             : RCL_SERVICE_INTROSPECTION_OFF;
  endpoint.configure_introspection(node.get_clock(), rclcpp::ServicesQoS(), state);
#else
  (void)endpoint;
  (void)node;
  if (mode != IntrospectionMode::kOff) {
    throw std::runtime_error(*IntrospectionUnsupported());
  }
#endif
}

}  // namespace kestrava_arm::bt
