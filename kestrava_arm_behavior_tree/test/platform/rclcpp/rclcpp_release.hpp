// Where the stand-in tests expect different things of Humble's rclcpp (16, which the stand-in
// follows) and Jazzy's (28): the tests run against the stand-in and against each real rclcpp.
#pragma once

#include <string>

#include "rclcpp/rclcpp.hpp"
#include "rclcpp/version.h"

namespace kestrava::test {

#if RCLCPP_VERSION_GTE(28, 0, 0)
// Jazzy deprecates create_client's rmw profile form; Humble has no other.
inline rclcpp::QoS ServicesQos() {
  return rclcpp::ServicesQoS();
}
// Jazzy's executor names the node in its membership errors.
inline constexpr bool kMembershipErrorsNameTheNode = true;
// Jazzy's remove_node clears the node's membership before it finds the node in another executor,
// so that executor can no longer remove it.
inline constexpr bool kFailedRemoveClearsMembership = true;
// Jazzy's executor holds the clients of its last wait until it waits again, so a client released
// by its owner meanwhile still takes a response to its callback (over Cyclone DDS nearly always).
inline constexpr bool kReleasedClientMayCallBack = true;
#else
inline const rmw_qos_profile_t& ServicesQos() {
  return rmw_qos_profile_services_default;
}
inline constexpr bool kMembershipErrorsNameTheNode = false;
inline constexpr bool kFailedRemoveClearsMembership = false;
inline constexpr bool kReleasedClientMayCallBack = false;
#endif

// An executor's "Node needs to be associated ..." error, as the rclcpp in use words it.
inline std::string MembershipError(const rclcpp::Node& node, const std::string& needs) {
  if (kMembershipErrorsNameTheNode) {
    return "Node '" + std::string(node.get_fully_qualified_name()) + "' " + needs;
  }
  return "Node " + needs;
}

}  // namespace kestrava::test
