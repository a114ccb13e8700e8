#pragma once

#include <optional>
#include <string>
#include <vector>

// What the fuzz targets check answers and their verdicts against, without the node.
namespace kestrava_arm::bt::fuzzing {

// Reports a broken property and aborts, so that libFuzzer keeps the input as a finding.
[[noreturn]] void Fail(const std::string& what);

struct ArmPose {
  std::vector<double> translation;
  std::vector<double> rotation;
};

// The arm pose as any yaml-cpp reader of the answer sees it; nothing when it cannot be read.
std::optional<ArmPose> ArmPoseOf(const std::string& response_yaml);

// The layout of the port "transfor_matrix": translation, then rotation.
std::vector<double> Concatenated(const ArmPose& pose);

// Enough values, every one finite, and a quaternion (the first four rotation values) that is
// not four zeros.
bool ArmCanActOn(const ArmPose& pose);

// Fails unless a taken answer's published pose is the one the document carries and one the arm
// can act on; `published` is the "transfor_matrix" of the answer.
void CheckTakenPose(const std::vector<double>& published, const std::string& response_yaml);

}  // namespace kestrava_arm::bt::fuzzing
