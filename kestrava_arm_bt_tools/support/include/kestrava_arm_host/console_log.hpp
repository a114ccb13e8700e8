#pragma once

#include <memory>
#include <string>

#include <spdlog/logger.h>

namespace kestrava_arm::host {

// A logger of its own (not in spdlog's registry, so it never clashes with the plugin's) that
// writes coloured lines to standard output.
std::shared_ptr<spdlog::logger> MakeConsoleLogger(const std::string& name);

}  // namespace kestrava_arm::host
