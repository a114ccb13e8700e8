#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "kestrava_arm_behavior_tree/common/service_introspection.hpp"

namespace kestrava_arm::host {

struct HostOptions {
  std::vector<std::string> plugins;
  std::string tree_file;
  std::string service_name = "/arm_perception_common";
  std::vector<std::pair<std::string, std::string>> entries;  // --set KEY=VALUE, in order
  std::chrono::milliseconds tick_period{50};
  std::chrono::milliseconds deadline{30000};  // zero: no deadline
  std::optional<std::string> response_file;   // --simulate
  std::chrono::milliseconds reply_delay{0};
  // --introspection: of the nodes' client (the blackboard entry) and of the simulated service
  bt::IntrospectionMode introspection = bt::IntrospectionMode::kOff;
  std::optional<std::chrono::milliseconds> service_wait;  // --wait-for-service-ms
  std::optional<int> repeat;                // --repeat: runs in this process, then a summary
  std::chrono::milliseconds pause{0};       // --pause-ms between repeated runs
  std::optional<std::string> summary_json;  // --summary-json FILE
  std::optional<unsigned> groot2_port;      // --groot2-port: Groot2 on this port and the next
  std::optional<std::string> record_file;   // --record FILE.btlog
  bool no_service = false;
  bool print_model = false;
  bool help = false;
  std::vector<std::string> ros_args;  // "--ros-args" and everything after it
};

// Throws UsageError (kestrava_arm_host/command_line.hpp) for a command line that cannot run.
HostOptions ParseHostOptions(int argc, const char* const argv[]);

std::string HostUsage();

// How long to wait for the perception service to be discovered before the first tick: as given,
// else 10000 ms for a service of another process and none for a simulated one or none at all.
std::chrono::milliseconds ServiceWaitLimit(const HostOptions& options);

}  // namespace kestrava_arm::host
