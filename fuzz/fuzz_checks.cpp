#include "fuzz_checks.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include <fmt/format.h>
#include <fmt/ranges.h>
#include <yaml-cpp/yaml.h>

namespace kestrava_arm::bt::fuzzing {
namespace {

constexpr std::size_t kTranslationValues = 3;
constexpr std::size_t kQuaternionValues = 4;

}  // namespace

void Fail(const std::string& what) {
  std::fprintf(stderr, "fuzz property broken: %s\n", what.c_str());
  std::abort();
}

std::optional<ArmPose> ArmPoseOf(const std::string& response_yaml) {
  try {
    const YAML::Node arm = YAML::Load(response_yaml)["arm_base_end"];
    return ArmPose{arm["translation"].as<std::vector<double>>(),
                   arm["rotation"].as<std::vector<double>>()};
  } catch (const YAML::Exception&) {
    return std::nullopt;
  }
}

std::vector<double> Concatenated(const ArmPose& pose) {
  std::vector<double> values = pose.translation;
  values.insert(values.end(), pose.rotation.begin(), pose.rotation.end());
  return values;
}

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

void CheckTakenPose(const std::vector<double>& published, const std::string& response_yaml) {
  const auto answered = ArmPoseOf(response_yaml);
  if (answered && !ArmCanActOn(*answered)) {
    Fail(fmt::format("a taken answer published transfor_matrix [{}], a pose no arm can act on",
                     fmt::join(published, ", ")));
  }
  if (!answered || published != Concatenated(*answered)) {
    Fail(fmt::format(
        "a taken answer published transfor_matrix [{}], the answer carries [{}]",
        fmt::join(published, ", "),
        answered ? fmt::format("{}", fmt::join(Concatenated(*answered), ", ")) : "none"));
  }
}

}  // namespace kestrava_arm::bt::fuzzing
