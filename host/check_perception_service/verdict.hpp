#pragma once

#include <string>
#include <vector>

namespace kestrava_arm::check {

// What DetectToiletInfo publishes after a run that received one answer document.
struct Verdict {
  bool taken = false;
  int error_code = 0;
  int status_code = 0;
  std::vector<double> transfor_matrix;  // the arm-base pose, when taken
  std::string reason;                   // why the answer is not taken; empty when it is
};

Verdict JudgeAnswer(const std::string& response_yaml);

// "SUCCESS" or "FAILURE": how the node's run ends.
const char* EndOf(const Verdict& verdict);

// The published pose of a taken answer, the reason of any other.
std::string DetailOf(const Verdict& verdict);

}  // namespace kestrava_arm::check
