// Any bytes the perception service may answer with, through a whole run of the node: the run
// must end with the verdict the answer reader reaches on the same bytes, and a successful one
// must publish the pose the answer carries, which must be one the arm can act on.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <fmt/ranges.h>

#include "fuzz_support.hpp"
#include "kestrava_arm_behavior_tree/action/detect_toilet_info_codes_and_keys.hpp"
#include "kestrava_arm_behavior_tree/contract/perception_contract.hpp"

namespace {

using namespace kestrava_arm::bt;
using namespace kestrava_arm::bt::fuzzing;
using kestrava_arm::bt::testing::ClearOutputs;
using kestrava_arm::bt::testing::PublishedOutcome;

// Far beyond any handling time: a run that still ends by time-out lost its response.
constexpr const char* kTimeLimitMs = "10000";

struct Fixture {
  kestrava_arm::bt::testing::NodeHarness& harness = SharedHarness();
  BT::Tree tree = harness.CreateTree(kTimeLimitMs);
};

std::string Describe(const RunOutcome& outcome) {
  return fmt::format("{} with error_code {}, status_code {}, transfor_matrix [{}]", EndOf(outcome),
                     outcome.error_code, outcome.status_code,
                     fmt::join(outcome.transfor_matrix, ", "));
}

// The node publishes what the contract says a run publishes for the same bytes.
void CheckOutcome(const RunOutcome& node, const std::string& response_yaml) {
  const RunOutcome contract = JudgeAnswer(response_yaml);
  if (node.succeeded != contract.succeeded || node.error_code != contract.error_code ||
      node.status_code != contract.status_code ||
      node.transfor_matrix != contract.transfor_matrix) {
    Fail(fmt::format("the run ended {}; the contract says {}", Describe(node), Describe(contract)));
  }
  if (node.succeeded) {
    CheckTakenPose(node.transfor_matrix, response_yaml);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Fixture fixture;
  const std::string response_yaml(reinterpret_cast<const char*>(data), size);
  BT::Blackboard& blackboard = *fixture.harness.blackboard();
  ClearOutputs(blackboard);
  fixture.harness.service().ForgetRequests();
  fixture.harness.service().AnswerAllWith(response_yaml);
  const BT::NodeStatus status = RunToEnd(fixture.tree);
  CheckOutcome(PublishedOutcome(status, blackboard), response_yaml);
  return 0;
}
