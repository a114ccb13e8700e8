// Any bytes the perception service may answer with: the run must end with one of the three
// outcomes of a handled response, and a successful one must publish the pose the answer carries,
// which must be one the arm can act on.
#include <algorithm>
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
constexpr std::size_t kTranslationValues = 3;
constexpr std::size_t kQuaternionValues = 4;
// Far beyond any handling time: a run that still ends by time-out lost its response.
constexpr const char* kTimeLimitMs = "10000";

struct Fixture {
  kestrava_arm::bt::testing::NodeHarness& harness = SharedHarness();
  BT::Tree tree = harness.CreateTree(kTimeLimitMs);
};

struct ArmPose {
  std::vector<double> translation;
  std::vector<double> rotation;
};

// The arm pose as any yaml-cpp reader of the answer sees it.
std::optional<ArmPose> ArmPoseOf(const std::string& response_yaml) {
  try {
    const YAML::Node arm = YAML::Load(response_yaml)["arm_base_end"];
    return ArmPose{arm["translation"].as<std::vector<double>>(),
                   arm["rotation"].as<std::vector<double>>()};
  } catch (const YAML::Exception&) {
    return std::nullopt;
  }
}

// The port's layout: translation, then rotation.
std::vector<double> Concatenated(const ArmPose& pose) {
  std::vector<double> values = pose.translation;
  values.insert(values.end(), pose.rotation.begin(), pose.rotation.end());
  return values;
}

// Enough values, every one finite, and a quaternion (the first four rotation values) that is
// not four zeros.
bool ArmCanActOn(const ArmPose& pose) {
  const auto all_finite = [](const std::vector<double>& values) {
    return std::all_of(values.begin(), values.end(), [](double v) { return std::isfinite(v); });
  };
  return pose.translation.size() >= kTranslationValues &&
         pose.rotation.size() >= kQuaternionValues && all_finite(pose.translation) &&
         all_finite(pose.rotation) &&
         !std::all_of(pose.rotation.begin(), pose.rotation.begin() + kQuaternionValues,
                      [](double v) { return v == 0.0; });
}

void CheckSuccess(const BT::Blackboard& blackboard, const std::string& response_yaml) {
  const auto published = blackboard.get<std::vector<double>>("transfor_matrix");
  const auto answered = ArmPoseOf(response_yaml);
  if (answered && !ArmCanActOn(*answered)) {
    Fail(fmt::format("success published transfor_matrix [{}], a pose no arm can act on",
                     fmt::join(published, ", ")));
  }
  if (!answered || published != Concatenated(*answered)) {
    Fail(fmt::format(
        "success published transfor_matrix [{}], the answer carries [{}]",
        fmt::join(published, ", "),
        answered ? fmt::format("{}", fmt::join(Concatenated(*answered), ", ")) : "none"));
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
