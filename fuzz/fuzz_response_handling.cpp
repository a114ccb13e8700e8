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
#include "kestrava_arm_behavior_tree/action/perception_contract.hpp"

namespace {

using namespace kestrava_arm::bt;
using namespace kestrava_arm::bt::fuzzing;

constexpr int kNotWritten = 0;
// Far beyond any handling time: a run that still ends by time-out lost its response.
constexpr const char* kTimeLimitMs = "10000";

struct Fixture {
  kestrava_arm::bt::testing::NodeHarness& harness = SharedHarness();
  BT::Tree tree = harness.CreateTree(kTimeLimitMs);
};

struct Outcome {
  BT::NodeStatus status;
  int error_code;
  int status_code;
  std::vector<double> transfor_matrix;
};

std::string Describe(const Outcome& outcome) {
  return fmt::format("{} with error_code {}, status_code {}, transfor_matrix [{}]",
                     BT::toStr(outcome.status), outcome.error_code, outcome.status_code,
                     fmt::join(outcome.transfor_matrix, ", "));
}

// What the node publishes, by the reader's verdict on the same bytes.
Outcome ReadersOutcome(const std::string& response_yaml) {
  const PerceptionAnswer answer = ReadPerceptionAnswer(response_yaml);
  const bool taken = answer.error_code == kErrorNone;
  return {taken ? BT::NodeStatus::SUCCESS : BT::NodeStatus::FAILURE, answer.error_code,
          StatusCodeOf(answer.error_code),
          taken ? TransforMatrixOf(*answer.arm) : std::vector<double>{}};
}

void CheckOutcome(const Outcome& node, const std::string& response_yaml) {
  const Outcome reader = ReadersOutcome(response_yaml);
  if (node.status != reader.status || node.error_code != reader.error_code ||
      node.status_code != reader.status_code || node.transfor_matrix != reader.transfor_matrix) {
    Fail(fmt::format("the run ended {}; the answer reader says {}", Describe(node),
                     Describe(reader)));
  }
  if (node.status == BT::NodeStatus::SUCCESS) {
    CheckTakenPose(node.transfor_matrix, response_yaml);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Fixture fixture;
  const std::string response_yaml(reinterpret_cast<const char*>(data), size);
  BT::Blackboard& blackboard = *fixture.harness.blackboard();
  blackboard.set("error_code", kNotWritten);
  blackboard.set("status_code", kNotWritten);
  blackboard.set("transfor_matrix", std::vector<double>{});
  fixture.harness.service().ForgetRequests();
  fixture.harness.service().AnswerAllWith(response_yaml);
  const BT::NodeStatus status = RunToEnd(fixture.tree);
  CheckOutcome({status, blackboard.get<int>("error_code"), blackboard.get<int>("status_code"),
                blackboard.get<std::vector<double>>("transfor_matrix")},
               response_yaml);
  return 0;
}
