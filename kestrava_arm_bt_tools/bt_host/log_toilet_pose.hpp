#pragma once

#include <string>

#include "behaviortree_cpp/action_node.h"

namespace kestrava_arm::host {

// Demo follow-up step: reads the detected arm-base pose (translation x y z, rotation x y z w) and
// the fixed-trajectory file, logs them, and fails when the pose is not seven values.
class LogToiletPose : public BT::SyncActionNode {
 public:
  LogToiletPose(const std::string& name, const BT::NodeConfig& config);

  static BT::PortsList providedPorts();

 private:
  BT::NodeStatus tick() override;
};

}  // namespace kestrava_arm::host
