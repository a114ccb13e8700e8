#include "log_toilet_pose.hpp"

#include <vector>

#include <fmt/ranges.h>

#include "host_log.hpp"

namespace kestrava_arm::host {
namespace {

constexpr std::size_t kTranslationSize = 3;
constexpr std::size_t kPoseSize = kTranslationSize + 4;

}  // namespace

LogToiletPose::LogToiletPose(const std::string& name, const BT::NodeConfig& config)
    : BT::SyncActionNode(name, config) {}

BT::PortsList LogToiletPose::providedPorts() {
  return {BT::InputPort<std::vector<double>>("transfor_matrix",
                                             "translation x y z, then rotation x y z w"),
          BT::InputPort<std::string>("fix_trajectory", "fixed-trajectory file")};
}

BT::NodeStatus LogToiletPose::tick() {
  const auto pose = getInput<std::vector<double>>("transfor_matrix");
  const auto trajectory = getInput<std::string>("fix_trajectory");
  if (!pose || !trajectory) {
    HostLog().error("LogToiletPose: {}", pose ? trajectory.error() : pose.error());
    return BT::NodeStatus::FAILURE;
  }
  if (pose->size() != kPoseSize) {
    HostLog().error("LogToiletPose: expected {} pose values, got {}", kPoseSize, pose->size());
    return BT::NodeStatus::FAILURE;
  }
  const auto rotation_begin = pose->begin() + kTranslationSize;
  HostLog().info("toilet at translation [{}], rotation [{}]; fixed trajectory {}",
                 fmt::join(pose->begin(), rotation_begin, ", "),
                 fmt::join(rotation_begin, pose->end(), ", "), *trajectory);
  return BT::NodeStatus::SUCCESS;
}

}  // namespace kestrava_arm::host
