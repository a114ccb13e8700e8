#include "kestrava_arm_host/console_log.hpp"

#include <cstdlib>

#include <spdlog/sinks/stdout_color_sinks.h>

namespace kestrava_arm::host {

std::shared_ptr<spdlog::logger> MakeConsoleLogger(const std::string& name) {
  auto logger = std::make_shared<spdlog::logger>(
      name, std::make_shared<spdlog::sinks::stdout_color_sink_mt>());
  // Lines must reach a pipe at once, in order with the plugin's lines.
  logger->flush_on(spdlog::level::trace);
  // The same threshold as the plugin's lines, so that SPDLOG_LEVEL=warning quiets a long soak.
  // spdlog reads a name it does not know as "off"; such a value keeps the default.
  if (const char* name = std::getenv("SPDLOG_LEVEL"); name != nullptr) {
    if (const auto level = spdlog::level::from_str(name); level != spdlog::level::off) {
      logger->set_level(level);
    }
  }
  return logger;
}

}  // namespace kestrava_arm::host
