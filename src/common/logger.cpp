#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include <fmt/format.h>
#include <spdlog/pattern_formatter.h>
#include <spdlog/sinks/ansicolor_sink.h>
#include <spdlog/sinks/systemd_sink.h>
// <syslog.h>, included by the journal sink, names a priority LOG_INFO; here the name belongs to
// the statement macro.
#undef LOG_INFO

#include "kestrava_arm_behavior_tree/common/utils.hpp"

namespace kestrava {
namespace {

// Announces on standard output, whatever the sinks, that a variable falls back to its default.
void ReportFallback(const char* variable, const char* value, const char* fallback) {
  fmt::print(stdout, "environment variable {} is {}, and set {}\n", variable,
             value == nullptr ? "not set" : "invalid", fallback);
}

// Only the exact words "true" and "false" switch a sink; anything else keeps the default.
bool ReadSwitch(const char* variable, bool fallback) {
  // NOLINTNEXTLINE(concurrency-mt-unsafe): read once, while the facade is being built
  const char* value = std::getenv(variable);
  if (value != nullptr && std::strcmp(value, "true") == 0) {
    return true;
  }
  if (value != nullptr && std::strcmp(value, "false") == 0) {
    return false;
  }
  ReportFallback(variable, value, fallback ? "true" : "false");
  return fallback;
}

// spdlog's own level names differ ("warn", "off"); only these are accepted.
spdlog::level::level_enum ReadLevel() {
  static constexpr std::array<std::pair<const char*, spdlog::level::level_enum>, 6> kLevels{{
      {"trace", spdlog::level::trace},
      {"debug", spdlog::level::debug},
      {"info", spdlog::level::info},
      {"warning", spdlog::level::warn},
      {"error", spdlog::level::err},
      {"critical", spdlog::level::critical},
  }};
  // NOLINTNEXTLINE(concurrency-mt-unsafe): read once, while the facade is being built
  const char* value = std::getenv("SPDLOG_LEVEL");
  if (value != nullptr) {
    for (const auto& [name, level] : kLevels) {
      if (std::strcmp(value, name) == 0) {
        return level;
      }
    }
  }
  ReportFallback("SPDLOG_LEVEL", value, "default level");
  return spdlog::level::info;
}

std::vector<spdlog::sink_ptr> CreateSinks() {
  std::vector<spdlog::sink_ptr> sinks;
  if (ReadSwitch("SPDLOG_STDOUT", true)) {
    sinks.push_back(
        std::make_shared<spdlog::sinks::ansicolor_stdout_sink_mt>(spdlog::color_mode::automatic));
  }
  if (ReadSwitch("SPDLOG_SYSTEMD", false)) {
    // No identifier of its own: records carry the logger name.
    sinks.push_back(std::make_shared<spdlog::sinks::systemd_sink_mt>());
  }
  return sinks;
}

std::string FormatPrefix(spdlog::level::level_enum level, unsigned number) {
  if (level == spdlog::level::err) {
    return fmt::format("{0:3d} [ERROR] ", number);
  }
  return fmt::format("{0:3d} [INFO] ", number);
}

}  // namespace

Logger::Logger(const std::string& name) {
  // A set-up failure leaves the facade as far as it got; logging must never stop the caller.
  try {
    std::vector<spdlog::sink_ptr> sinks = CreateSinks();
    logger_ = std::make_shared<spdlog::logger>(name, sinks.begin(), sinks.end());
    const spdlog::level::level_enum level = ReadLevel();
    level_ = level;
    logger_->set_level(level);
    logger_->set_formatter(
        std::make_unique<spdlog::pattern_formatter>("%v", spdlog::pattern_time_type::local, "\n"));
  } catch (const spdlog::spdlog_ex&) {
  }
}

void Logger::Write(spdlog::logger& logger, const spdlog::source_loc& location,
                   spdlog::level::level_enum level, const std::string& message) {
  const std::uint8_t sequence = level_ <= level ? ++sequence_ : sequence_.load();
  const std::string text = FormatPrefix(level, sequence & 0x7fU) + message;
  // As a string view the text is taken as finished: braces in it are not interpreted again.
  logger.log(location, level, spdlog::string_view_t(text));
}

}  // namespace kestrava
