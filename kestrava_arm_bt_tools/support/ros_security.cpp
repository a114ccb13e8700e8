#include "kestrava_arm_host/ros_security.hpp"

#include <cstdlib>

namespace kestrava_arm::host {
namespace {

std::string Environment(const char* name, const std::string& fallback) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : fallback;
}

// As rcl chooses it: the override variable first, then the last --enclave (-e) argument, then
// the root enclave.
std::string Enclave(const std::vector<std::string>& ros_args) {
  std::string enclave = "/";
  for (std::size_t i = 0; i + 1 < ros_args.size(); ++i) {
    if (ros_args[i] == "--enclave" || ros_args[i] == "-e") {
      enclave = ros_args[i + 1];
    }
  }
  return Environment("ROS_SECURITY_ENCLAVE_OVERRIDE", enclave);
}

}  // namespace

std::string WithRosSecurity(const std::string& error, const std::vector<std::string>& ros_args) {
  if (Environment("ROS_SECURITY_ENABLE", "") != "true") {
    return error;
  }
  return "with ROS 2 security (enclave " + Enclave(ros_args) + ", keystore " +
         Environment("ROS_SECURITY_KEYSTORE", "unset") + ", ROS domain " +
         Environment("ROS_DOMAIN_ID", "0") + ", strategy " +
         Environment("ROS_SECURITY_STRATEGY", "unset") + "): " + error +
         "; the keystore must hold the enclave, with permissions made for this ROS domain that "
         "allow what the program does";
}

}  // namespace kestrava_arm::host
