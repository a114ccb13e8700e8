#pragma once

// How the tests start the programs as ROS 2 processes: in a ROS domain of the test's own, and in
// an enclave of a keystore with security enforced, or without security whatever the test's own
// environment says.

#include <string>
#include <vector>

#include "kestrava_arm_testing/child_process.hpp"
#include "kestrava_arm_testing/ros_domain.hpp"

namespace kestrava::test {

struct Security {
  std::string keystore;  // none: no security
  std::string enclave;
};
inline const Security kNoSecurity{};

inline const std::string kHostEnclave = "/kestrava/bt_host";
inline const std::string kPerceptionEnclave = "/kestrava/perception";
inline const std::string kCheckEnclave = "/kestrava/check";

inline std::vector<std::string> EnvironmentFor(const Security& security, int domain) {
  std::vector<std::string> settings{"ROS_DOMAIN_ID=" + std::to_string(domain)};
  if (!security.keystore.empty()) {
    settings.insert(settings.end(), {"ROS_SECURITY_ENABLE=true", "ROS_SECURITY_STRATEGY=Enforce",
                                     "ROS_SECURITY_KEYSTORE=" + security.keystore});
  }
  return InheritedEnvironment({"ROS_DOMAIN_ID", "ROS_SECURITY_ENABLE", "ROS_SECURITY_STRATEGY",
                               "ROS_SECURITY_KEYSTORE", "ROS_SECURITY_ENCLAVE_OVERRIDE"},
                              settings);
}

inline std::vector<std::string> EnvironmentFor(const Security& security) {
  return EnvironmentFor(security, kestrava_arm::bt::testing::IsolateRosDomain());
}

// "--ros-args", the enclave if any, then `more`.
inline void AddRosArguments(const Security& security, const std::vector<std::string>& more,
                            std::vector<std::string>& arguments) {
  arguments.emplace_back("--ros-args");
  if (!security.enclave.empty()) {
    arguments.insert(arguments.end(), {"--enclave", security.enclave});
  }
  arguments.insert(arguments.end(), more.begin(), more.end());
}

}  // namespace kestrava::test
