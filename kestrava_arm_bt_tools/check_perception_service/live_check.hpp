#pragma once

#include <stdexcept>
#include <vector>

#include "check_options.hpp"
#include "check_report.hpp"
#include "rclcpp/rclcpp.hpp"

namespace kestrava_arm::check {

// The check cannot start: a file that cannot be read, no service, ROS 2 refused to start.
class SetupError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// ROS 2 for the live check and the watch, shut down however they end. argv: for rclcpp, which
// takes its arguments from after "--ros-args".
struct RosContext {
  RosContext(int argc, const char* const argv[]) { rclcpp::init(argc, argv); }
  ~RosContext() { rclcpp::shutdown(); }
  RosContext(const RosContext&) = delete;
  RosContext& operator=(const RosContext&) = delete;
};

// The requests of the options, each with no rounds yet: the document the node would send for
// each task, or the user's own. Throws SetupError for a request file that cannot be read or
// holds no request document.
std::vector<RequestResult> PrepareRequests(const CheckOptions& options);

// Waits for the service, then sends each request options.rounds times, one at a time, and
// waits for each answer up to twice the time limit (at least a second beyond it), so that a
// late answer is measured, not only missed. argv: for rclcpp, which takes its arguments from
// after "--ros-args".
LiveResults RunLiveCheck(int argc, const char* const argv[], const CheckOptions& options);

}  // namespace kestrava_arm::check
