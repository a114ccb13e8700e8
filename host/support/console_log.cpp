#include "kestrava_arm_host/console_log.hpp"

#include <spdlog/sinks/stdout_color_sinks.h>

namespace kestrava_arm::host {

std::shared_ptr<spdlog::logger> MakeConsoleLogger(const std::string& name) {
  auto logger = std::make_shared<spdlog::logger>(
      name, std::make_shared<spdlog::sinks::stdout_color_sink_mt>());
  // Lines must reach a pipe at once, in order with the plugin's lines.
  logger->flush_on(spdlog::level::trace);
  return logger;
}

}  // namespace kestrava_arm::host
