#pragma once

#include <spdlog/logger.h>

namespace kestrava_arm::host {

// The log of the host's own steps, on standard output.
spdlog::logger& HostLog();

}  // namespace kestrava_arm::host
