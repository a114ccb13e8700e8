#include "verdict.hpp"

#include <fmt/format.h>
#include <fmt/ranges.h>

#include "kestrava_arm_behavior_tree/action/perception_contract.hpp"

namespace kestrava_arm::check {
namespace {

// The node logs the reason of a refusal only; an answer without a detection has its own.
std::string ReasonOf(const bt::PerceptionAnswer& answer) {
  if (answer.error_code == bt::kErrorBadResponse) {
    return answer.refusal;
  }
  if (answer.error_code == bt::kErrorNoDetection) {
    return answer.success == false ? R"("success" is false: the service detected nothing)"
                                   : R"("success" is true but "arm_base_end" is missing)";
  }
  return {};
}

}  // namespace

Verdict JudgeAnswer(const std::string& response_yaml) {
  const bt::PerceptionAnswer answer = bt::ReadPerceptionAnswer(response_yaml);
  Verdict verdict;
  verdict.taken = answer.error_code == bt::kErrorNone;
  verdict.error_code = answer.error_code;
  verdict.status_code = bt::StatusCodeOf(answer.error_code);
  if (verdict.taken) {
    verdict.transfor_matrix = bt::TransforMatrixOf(*answer.arm);
  }
  verdict.reason = ReasonOf(answer);
  return verdict;
}

const char* EndOf(const Verdict& verdict) {
  return verdict.taken ? "SUCCESS" : "FAILURE";
}

std::string DetailOf(const Verdict& verdict) {
  return verdict.taken
             ? fmt::format("transfor_matrix [{}]", fmt::join(verdict.transfor_matrix, ", "))
             : verdict.reason;
}

}  // namespace kestrava_arm::check
