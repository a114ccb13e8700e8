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

// Runs program with exactly the given environment ("NAME=value" entries) and collects its
// standard output and error.
ChildOutput RunChild(const std::string& program, const std::vector<std::string>& args,
                     const std::vector<std::string>& environment);

}  // namespace kestrava::test
