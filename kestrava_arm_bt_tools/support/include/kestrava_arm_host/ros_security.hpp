#pragma once

#include <string>
#include <vector>

namespace kestrava_arm::host {

// `error`, a failure to start ROS 2 (context, node or an entity of it), as the user should read
// it: when ROS 2 security is on (ROS_SECURITY_ENABLE=true), with the enclave, the keystore, the
// ROS domain and the strategy the process started with, since rcl's and the middleware's own
// words do not always name them (a keystore made for another domain reads "rcl node's rmw handle
// is invalid"). ros_args: the process's ROS arguments, from "--ros-args" on.
std::string WithRosSecurity(const std::string& error, const std::vector<std::string>& ros_args);

}  // namespace kestrava_arm::host
