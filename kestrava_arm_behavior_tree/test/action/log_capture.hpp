#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace kestrava_arm::bt::testing {

// Log lines written to standard output while it lives, without the sequence-number column.
class LogCapture {
 public:
  LogCapture();
  ~LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;
  LogCapture(LogCapture&&) = delete;
  LogCapture& operator=(LogCapture&&) = delete;

  // Ends the capture; lines read "[INFO] text" or "[ERROR] text".
  std::vector<std::string> Lines();

 private:
  bool capturing_ = true;
};

// Counts the lines that contain `fragment`.
std::size_t CountContaining(const std::vector<std::string>& lines, const std::string& fragment);

}  // namespace kestrava_arm::bt::testing
