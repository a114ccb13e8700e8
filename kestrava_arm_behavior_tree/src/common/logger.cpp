#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
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

constexpr char kEscape = '\033';

bool InRange(char byte, char first, char last) {
  return first <= byte && byte <= last;
}

// Index of the first byte from `at` on that lies outside [first, last].
std::size_t SkipRange(std::string_view text, std::size_t at, char first, char last) {
  while (at < text.size() && InRange(text[at], first, last)) {
    ++at;
  }
  return at;
}

// Index after the final byte at `at` if it lies in [first, last]; `at` otherwise.
std::size_t SkipFinal(std::string_view text, std::size_t at, char first, char last) {
  return at < text.size() && InRange(text[at], first, last) ? at + 1 : at;
}

// Index after a control string whose body starts at `at`: after its terminator, BEL or ST
// (ESC \); an escape that is not ST ends the string there.
std::size_t SkipControlString(std::string_view text, std::size_t at) {
  for (; at < text.size(); ++at) {
    if (text[at] == '\a') {
      return at + 1;
    }
    if (text[at] == kEscape) {
      return at + 1 < text.size() && text[at + 1] == '\\' ? at + 2 : at;
    }
  }
  return at;
}

// Index after the escape sequence that starts with the ESC at `at`, in the 7-bit forms of
// ECMA-48 (in UTF-8 text the bytes of the 8-bit forms belong to other characters):
//   CSI: ESC [, parameter bytes 0x30-0x3F, intermediate bytes 0x20-0x2F, final byte 0x40-0x7E;
//   control strings: ESC ] (OSC), ESC P, ESC X, ESC ^ or ESC _, a body, BEL or ST;
//   other escapes: ESC, intermediate bytes 0x20-0x2F, final byte 0x30-0x7E.
// A byte that does not fit the form ends the sequence before it.
std::size_t SkipEscapeSequence(std::string_view text, std::size_t at) {
  const std::size_t next = at + 1;
  if (next < text.size() && text[next] == '[') {
    const std::size_t intermediates = SkipRange(text, next + 1, 0x30, 0x3f);
    return SkipFinal(text, SkipRange(text, intermediates, 0x20, 0x2f), 0x40, 0x7e);
  }
  if (next < text.size() && std::string_view("]PX^_").find(text[next]) != std::string_view::npos) {
    return SkipControlString(text, next + 1);
  }
  return SkipFinal(text, SkipRange(text, next, 0x20, 0x2f), 0x30, 0x7e);
}

void AppendWithoutEscapeSequences(std::string_view text, spdlog::memory_buf_t& out) {
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t escape = std::min(text.find(kEscape, at), text.size());
    out.append(text.data() + at, text.data() + escape);
    at = escape < text.size() ? SkipEscapeSequence(text, escape) : escape;
  }
}

// spdlog's journal sink, handed the message without terminal escape sequences: journald keeps a
// message with control bytes as binary data, which journalctl shows as "[N blob data]". The
// console sink still writes the colours.
class PlainTextJournalSink final : public spdlog::sinks::systemd_sink_mt {
 protected:
  void sink_it_(const spdlog::details::log_msg& message) override {
    spdlog::memory_buf_t text;
    AppendWithoutEscapeSequences(std::string_view(message.payload.data(), message.payload.size()),
                                 text);
    spdlog::details::log_msg plain_message = message;
    plain_message.payload = spdlog::string_view_t(text.data(), text.size());
    spdlog::sinks::systemd_sink_mt::sink_it_(plain_message);
  }
};

std::vector<spdlog::sink_ptr> CreateSinks() {
  std::vector<spdlog::sink_ptr> sinks;
  if (ReadSwitch("SPDLOG_STDOUT", true)) {
    sinks.push_back(
        std::make_shared<spdlog::sinks::ansicolor_stdout_sink_mt>(spdlog::color_mode::automatic));
  }
  if (ReadSwitch("SPDLOG_SYSTEMD", false)) {
    // No identifier of its own: records carry the logger name.
    sinks.push_back(std::make_shared<PlainTextJournalSink>());
  }
  return sinks;
}

// The prefixes "{:3d} [INFO] " and "{:3d} [ERROR] " with the three columns of the number blank.
constexpr std::string_view kInfoPrefix = "    [INFO] ";
constexpr std::string_view kErrorPrefix = "    [ERROR] ";

std::string_view BlankPrefix(spdlog::level::level_enum level) {
  return level == spdlog::level::err ? kErrorPrefix : kInfoPrefix;
}

// Writes number (below 1000) right-aligned into the three columns, as "{:3d}" would.
void WriteNumber(unsigned number, char* columns) {
  columns[0] = number >= 100 ? static_cast<char>('0' + number / 100) : ' ';
  columns[1] = number >= 10 ? static_cast<char>('0' + number / 10 % 10) : ' ';
  columns[2] = static_cast<char>('0' + number % 10);
}

// Formats the message into text. A format string without braces has no placeholders and no
// escaped braces: it is its own result, and fmt's parser is skipped.
void AppendMessage(fmt::memory_buffer& text, fmt::string_view format, fmt::format_args args) {
  const std::string_view pattern(format.data(), format.size());
  if (pattern.find('{') != std::string_view::npos || pattern.find('}') != std::string_view::npos) {
    fmt::vformat_to(fmt::appender(text), format, args);
  } else {
    text.append(format.data(), format.data() + format.size());
  }
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

void Logger::Write(const spdlog::source_loc& location, spdlog::level::level_enum level,
                   fmt::string_view format, fmt::format_args args) {
  // The copy keeps the spdlog logger alive until the line is written.
  const std::shared_ptr<spdlog::logger> logger = logger_;
  if (!logger) {
    return;
  }
  // With no sink the line is never written; it still takes its number.
  if (logger->sinks().empty()) {
    ++sequence_;
    return;
  }
  fmt::memory_buffer text;
  const std::string_view prefix = BlankPrefix(level);
  text.append(prefix.data(), prefix.data() + prefix.size());
  AppendMessage(text, format, args);
  // Counted only once the message is formatted: a format error leaves the number untaken.
  WriteNumber(++sequence_ & 0x7fU, text.data());
  // As a string view the text is taken as finished: braces in it are not interpreted again.
  logger->log(location, level, spdlog::string_view_t(text.data(), text.size()));
}

}  // namespace kestrava
