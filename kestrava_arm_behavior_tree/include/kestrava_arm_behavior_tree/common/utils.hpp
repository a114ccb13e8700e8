#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>

#include <fmt/format.h>
#include <spdlog/logger.h>

#include "kestrava_arm_behavior_tree/common/string_helpers.hpp"
#include "kestrava_arm_behavior_tree/visibility_control.hpp"
#include "kestrava_protocol/msg/trash_info.hpp"
#include "std_msgs/msg/float64_multi_array.hpp"

namespace kestrava {

// The process-wide logging facade. It is configured once, from SPDLOG_STDOUT, SPDLOG_SYSTEMD and
// SPDLOG_LEVEL, by the first statement of the process, and numbers every line it admits.
class KESTRAVA_ARM_BT_PUBLIC Logger {
 public:
  // Defined here so that every module of the process that includes this header shares the one
  // object (default visibility); the local static makes the first construction thread-safe.
  static Logger& Instance() {
    static Logger instance("spdlog");
    return instance;
  }

  Logger(const Logger&) = delete;
  Logger& operator=(const Logger&) = delete;

  // Body of LOG_INFO and LOG_ERROR. A statement below the threshold neither formats nor counts.
  template <typename... Args>
  void Log(const spdlog::source_loc& location, spdlog::level::level_enum level,
           fmt::format_string<Args...> format, Args&&... args) {
    if (level < level_) {
      return;
    }
    Write(location, level, format, fmt::make_format_args(args...));
  }

 private:
  explicit Logger(const std::string& name);

  // Numbers the message and hands it on behind its number and level tag as finished text.
  void Write(const spdlog::source_loc& location, spdlog::level::level_enum level,
             fmt::string_view format, fmt::format_args args);

  std::shared_ptr<spdlog::logger> logger_;
  // Counts the admitted statements of all threads; wraps from 255 to 0.
  std::atomic<std::uint8_t> sequence_{0};
  std::int32_t level_ = spdlog::level::info;
};

}  // namespace kestrava

#define KESTRAVA_LOG_AT_LEVEL(level, ...)                                                  \
  ::kestrava::Logger::Instance().Log(                                                      \
      ::spdlog::source_loc{__FILE__, __LINE__, static_cast<const char*>(__func__)}, level, \
      __VA_ARGS__)

// LOG_INFO(format, args...) and LOG_ERROR(format, args...): fmt syntax; a text that must not be
// interpreted goes in as an argument: LOG_INFO("{}", text).
#define LOG_INFO(...) KESTRAVA_LOG_AT_LEVEL(::spdlog::level::info, __VA_ARGS__)
#define LOG_ERROR(...) KESTRAVA_LOG_AT_LEVEL(::spdlog::level::err, __VA_ARGS__)

// Terminal colours that messages embed around a piece of their text, closed by RESET. They live
// in the enclosing namespace of all node code, so that it names them unqualified.
namespace kestrava_arm {

inline constexpr const char* BOLD_GREEN = "\033[1;32m";
inline constexpr const char* BOLD_RED = "\033[1;31m";
inline constexpr const char* BOLD_YELLOW = "\033[1;33m";
inline constexpr const char* BOLD_MAGENTA = "\033[1;35m";
inline constexpr const char* BOLD_BLUE = "\033[1;34m";
inline constexpr const char* BOLD_CYAN = "\033[1;36m";
inline constexpr const char* GREEN = "\033[0;32m";
inline constexpr const char* RED = "\033[0;31m";
inline constexpr const char* YELLOW = "\033[0;33m";
inline constexpr const char* MAGENTA = "\033[0;35m";
inline constexpr const char* BLUE = "\033[0;34m";
inline constexpr const char* CYAN = "\033[0;36m";
inline constexpr const char* DIM_GREEN = "\033[2;32m";
inline constexpr const char* DIM_RED = "\033[2;31m";
inline constexpr const char* DIM_YELLOW = "\033[2;33m";
inline constexpr const char* DIM_MAGENTA = "\033[2;35m";
inline constexpr const char* DIM_BLUE = "\033[2;34m";
inline constexpr const char* DIM_CYAN = "\033[2;36m";
inline constexpr const char* RESET = "\033[0m";
inline constexpr const char* BG_BLACK = "\033[40m";
inline constexpr const char* BG_RED = "\033[41m";
inline constexpr const char* BG_GREEN = "\033[42m";
inline constexpr const char* BG_YELLOW = "\033[43m";
inline constexpr const char* BG_BLUE = "\033[44m";
inline constexpr const char* BG_MAGENTA = "\033[45m";
inline constexpr const char* BG_CYAN = "\033[46m";
inline constexpr const char* BG_WHITE = "\033[47m";
inline constexpr const char* UNDERLINE = "\033[4m";
inline constexpr const char* REVERSE = "\033[7m";
inline constexpr const char* BOLD = "\033[1m";
inline constexpr const char* DIM = "\033[2m";
inline constexpr const char* ITALIC = "\033[3m";
inline constexpr const char* BLINK = "\033[5m";

}  // namespace kestrava_arm

namespace kestrava_arm::bt {

// Logs "label: [a b c ]" on one line.
KESTRAVA_ARM_BT_PUBLIC void PrintfFloat64MultiArray(std::string label,
                                                    const std_msgs::msg::Float64MultiArray& array);

// Logs the members of a trash description on eleven coloured lines.
KESTRAVA_ARM_BT_PUBLIC void PrintfTrashInfo(const kestrava_protocol::msg::TrashInfo& trash_info);

}  // namespace kestrava_arm::bt
