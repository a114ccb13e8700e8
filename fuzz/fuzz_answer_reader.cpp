// Any bytes the perception service may answer with, read by the answer reader alone, without
// ROS 2 or threads: the verdict must be one of the three the node publishes, a refusal must say
// why, and a taken answer must carry the pose that yaml-cpp reads in the document, one the arm
// can act on. fuzz_response_handling checks that the node reaches the same verdict.
#include <cstddef>
#include <cstdint>
#include <string>

#include <fmt/format.h>

#include "fuzz_checks.hpp"
#include "kestrava_arm_behavior_tree/action/detect_toilet_info_codes_and_keys.hpp"
#include "kestrava_arm_behavior_tree/contract/perception_contract.hpp"

namespace {

using namespace kestrava_arm::bt;
using namespace kestrava_arm::bt::fuzzing;

void CheckVerdict(const PerceptionAnswer& answer) {
  const bool known = answer.error_code == kErrorNone || answer.error_code == kErrorNoDetection ||
                     answer.error_code == kErrorBadResponse;
  if (!known) {
    Fail(fmt::format("error_code {} is none the node publishes", answer.error_code));
  }
  if ((answer.error_code == kErrorBadResponse) == answer.refusal.empty()) {
    Fail(fmt::format("error_code {} with the refusal \"{}\"", answer.error_code, answer.refusal));
  }
  if (answer.error_code == kErrorNone && !answer.arm) {
    Fail("an answer taken without an arm-base pose");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string response_yaml(reinterpret_cast<const char*>(data), size);
  const PerceptionAnswer answer = ReadPerceptionAnswer(response_yaml);
  CheckVerdict(answer);
  if (answer.error_code == kErrorNone) {
    CheckTakenPose(OutcomeOf(answer).transfor_matrix, response_yaml);
  }
  return 0;
}
