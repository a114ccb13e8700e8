#include "log_capture.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

namespace kestrava_arm::bt::testing {

namespace {

// Where "[INFO] " or "[ERROR] " starts after the right-aligned sequence number, or npos when
// the line does not start like a log line.
std::size_t TagPosition(const std::string& line) {
  const auto number = line.find_first_not_of(' ');
  const auto tag = line.find_first_not_of("0123456789", number);
  if (number == std::string::npos || tag == number || tag == std::string::npos ||
      line.compare(tag, 1, " ") != 0) {
    return std::string::npos;
  }
  const bool tagged =
      line.compare(tag + 1, 7, "[INFO] ") == 0 || line.compare(tag + 1, 8, "[ERROR] ") == 0;
  return tagged ? tag + 1 : std::string::npos;
}

}  // namespace

LogCapture::LogCapture() {
  ::testing::internal::CaptureStdout();
}

LogCapture::~LogCapture() {
  if (capturing_) {
    ::testing::internal::GetCapturedStdout();
  }
}

std::vector<std::string> LogCapture::Lines() {
  capturing_ = false;
  std::istringstream output(::testing::internal::GetCapturedStdout());
  std::vector<std::string> lines;
  for (std::string line; std::getline(output, line);) {
    if (const auto tag = TagPosition(line); tag != std::string::npos) {
      lines.push_back(line.substr(tag));
    } else if (!lines.empty()) {
      lines.back() += "\n" + line;  // continuation of a multi-line message
    }
  }
  return lines;
}

std::size_t CountContaining(const std::vector<std::string>& lines, const std::string& fragment) {
  return static_cast<std::size_t>(std::count_if(lines.begin(), lines.end(), [&](const auto& line) {
    return line.find(fragment) != std::string::npos;
  }));
}

}  // namespace kestrava_arm::bt::testing
