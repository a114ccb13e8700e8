// Any bytes the perception service may answer with: the run must end with one of the three
// outcomes of a handled response, and a successful one must publish the pose the answer carries.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <fmt/ranges.h>
#include <yaml-cpp/yaml.h>

#include "fuzz_support.hpp"
#include "kestrava_arm_behavior_tree/action/detect_toilet_info_codes_and_keys.hpp"

namespace {

using namespace kestrava_arm::bt;
using namespace kestrava_arm::bt::fuzzing;
using namespace kestrava_arm::bt::testing;

constexpr int kNotWritten = 0;
// Three translation and four rotation values at least.
constexpr std::size_t kPoseValues = 7;
// Far beyond any handling time: a run that still ends by time-out lost its response.
constexpr const char* kTimeLimitMs = "10000";

struct Fixture {
  kestrava_arm::bt::testing::NodeHarness& harness = SharedHarness();
  BT::Tree tree = harness.CreateTree(kTimeLimitMs);
};

// The arm pose as any yaml-cpp reader of the answer sees it: translation, then rotation.
std::optional<std::vector<double>> ArmPoseOf(const std::string& response_yaml) {
  try {
    const YAML::Node arm = YAML::Load(response_yaml)["arm_base_end"];
    auto pose = arm["translation"].as<std::vector<double>>();
    const auto rotation = arm["rotation"].as<std::vector<double>>();
    pose.insert(pose.end(), rotation.begin(), rotation.end());
    return pose;
  } catch (const YAML::Exception&) {
    return std::nullopt;
  }
}

bool SameValues(const std::vector<double>& a, const std::vector<double>& b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (!(a[i] == b[i] || (std::isnan(a[i]) && std::isnan(b[i])))) {
      return false;
    }
  }
  return true;
}

void CheckSuccess(const BT::Blackboard& blackboard, const std::string& response_yaml) {
  const auto published = blackboard.get<std::vector<double>>("transfor_matrix");
  const auto expected = ArmPoseOf(response_yaml);
  if (!expected || published.size() < kPoseValues || !SameValues(published, *expected)) {
    Fail(fmt::format("success published transfor_matrix [{}], the answer carries [{}]",
                     fmt::join(published, ", "),
                     expected ? fmt::format("{}", fmt::join(*expected, ", ")) : "none"));
  }
}

void CheckOutcome(BT::NodeStatus status, const BT::Blackboard& blackboard,
                  const std::string& response_yaml) {
  const int error_code = blackboard.get<int>("error_code");
  const int status_code = blackboard.get<int>("status_code");
  const bool succeeded = status == BT::NodeStatus::SUCCESS && error_code == kErrorNone &&
                         status_code == kStatusSucceeded;
  const bool failed = status == BT::NodeStatus::FAILURE &&
                      (error_code == kErrorNoDetection || error_code == kErrorBadResponse) &&
                      status_code == kStatusDetectionFailed;
  if (!succeeded && !failed) {
    Fail(fmt::format("run ended {} with error_code {} and status_code {}", BT::toStr(status),
                     error_code, status_code));
  }
  if (succeeded) {
    CheckSuccess(blackboard, response_yaml);
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
  CheckOutcome(RunToEnd(fixture.tree), blackboard, response_yaml);
  return 0;
}
