#include "host_log.hpp"

#include "kestrava_arm_host/console_log.hpp"

namespace kestrava_arm::host {

spdlog::logger& HostLog() {
  static const auto logger = MakeConsoleLogger("bt_host");
  return *logger;
}

}  // namespace kestrava_arm::host
