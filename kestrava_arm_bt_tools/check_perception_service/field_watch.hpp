#pragma once

#include "check_options.hpp"

namespace kestrava_arm::check {

// Watches the perception service's events on "<service>/_service_event" without sending
// anything: prints a line for every exchange as it completes, writes it to the recording when
// one is asked for, and a summary when the watch stops (Ctrl-C, --count, --duration-ms). Returns
// the check's exit status. Throws SetupError where the watch cannot start, and UsageError where
// this build's rclcpp has no service introspection.
int RunFieldWatch(int argc, const char* const argv[], const CheckOptions& options);

}  // namespace kestrava_arm::check
