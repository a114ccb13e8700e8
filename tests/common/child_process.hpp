#pragma once

#include <string>
#include <vector>

namespace kestrava::test {

struct ChildOutput {
  int pid = 0;
  int wait_status = 0;
  std::string out;
  std::string err;
};

// Runs program with exactly the given environment ("NAME=value" entries) in working_directory
// (empty: this process's) and collects its standard output and error.
ChildOutput RunChild(const std::string& program, const std::vector<std::string>& args,
                     const std::vector<std::string>& environment,
                     const std::string& working_directory = "");

// This process's environment without the variables named in `owned`, plus `settings`
// ("NAME=value"): a child sees the variables a test is about exactly as the test sets them, and
// inherits everything else, such as the library path a ROS 2 workspace finds its libraries by.
std::vector<std::string> InheritedEnvironment(const std::vector<std::string>& owned,
                                              const std::vector<std::string>& settings);

// The inherited environment with the logging facade's variables (SPDLOG_STDOUT, SPDLOG_SYSTEMD,
// SPDLOG_LEVEL) exactly as `settings` gives them; a variable not in `settings` is unset.
std::vector<std::string> LoggingEnvironment(const std::vector<std::string>& settings);

}  // namespace kestrava::test
