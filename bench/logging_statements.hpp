// The statements that bench_logging times and count_logging counts: each facade statement beside
// the bare spdlog call that writes the same message through the same sinks.
#pragma once

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <spdlog/sinks/ansicolor_sink.h>

#include "kestrava_arm_behavior_tree/common/utils.hpp"

namespace kestrava::bench {

// The facade reads the same variable on its first statement; the journal is left out.
inline bool ConsoleWanted() {
  const char* value = std::getenv("SPDLOG_STDOUT");
  return value == nullptr || std::strcmp(value, "false") != 0;
}

inline const char* SinkName() {
  return ConsoleWanted() ? "console" : "no_sinks";
}

// A logger with the facade's sinks and pattern, but neither number nor level tag.
inline std::shared_ptr<spdlog::logger> MakeBareLogger() {
  std::vector<spdlog::sink_ptr> sinks;
  if (ConsoleWanted()) {
    sinks.push_back(std::make_shared<spdlog::sinks::ansicolor_stdout_sink_mt>());
  }
  auto logger = std::make_shared<spdlog::logger>("bare", sinks.begin(), sinks.end());
  logger->set_pattern("%v");
  return logger;
}

// The constructor's message: text without placeholders.
inline void FacadeText() {
  LOG_INFO("DetectToiletInfo running!");
}
inline void BareText(spdlog::logger& logger) {
  logger.log(spdlog::source_loc{__FILE__, __LINE__, static_cast<const char*>(__func__)},
             spdlog::level::info, "DetectToiletInfo running!");
}

// A message with a text and a number to format.
inline void FacadeTwoArgs(const std::string& task) {
  LOG_INFO("waiting for response of {} {}", task, 42);
}
inline void BareTwoArgs(spdlog::logger& logger, const std::string& task) {
  logger.log(spdlog::source_loc{__FILE__, __LINE__, static_cast<const char*>(__func__)},
             spdlog::level::info, "waiting for response of {} {}", task, 42);
}

}  // namespace kestrava::bench
