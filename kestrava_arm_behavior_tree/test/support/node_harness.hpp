#pragma once

#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "behaviortree_cpp/bt_factory.h"
#include "kestrava_arm_behavior_tree/contract/perception_contract.hpp"
#include "perception_service_stub.hpp"
#include "rclcpp/rclcpp.hpp"

namespace kestrava_arm::bt::testing {

// Sets the process up the way a host does: the shared ROS 2 node and the service name go on
// the blackboard before the tree is built, and an executor spins the shared node and the
// perception service on a thread of its own.
class NodeHarness {
 public:
  static constexpr const char* kServiceName = "/arm_perception_common";

  NodeHarness();
  ~NodeHarness();
  NodeHarness(const NodeHarness&) = delete;
  NodeHarness& operator=(const NodeHarness&) = delete;
  NodeHarness(NodeHarness&&) = delete;
  NodeHarness& operator=(NodeHarness&&) = delete;

  // A tree with one DetectToiletInfo whose outputs go to entries of the same names. Trees share
  // the harness's blackboard unless they are given one of their own.
  BT::Tree CreateTree(const std::string& timeout_duration = "60000",
                      BT::Blackboard::Ptr blackboard = nullptr);
  BT::Tree CreateTreeFromText(const std::string& xml, BT::Blackboard::Ptr blackboard = nullptr);
  // A new blackboard holding what a host puts there: the shared node and the service name.
  BT::Blackboard::Ptr CreateHostBlackboard() const;

  PerceptionServiceStub& service() { return service_; }
  BT::Blackboard::Ptr blackboard() const { return blackboard_; }
  rclcpp::Node::SharedPtr shared_node() const { return shared_node_; }
  rclcpp::Node::SharedPtr service_node() const { return service_node_; }
  BT::BehaviorTreeFactory& factory() { return factory_; }

 private:
  rclcpp::Node::SharedPtr shared_node_;
  rclcpp::Node::SharedPtr service_node_;
  PerceptionServiceStub service_;
  rclcpp::executors::SingleThreadedExecutor executor_;
  std::future<void> spinning_;
  BT::BehaviorTreeFactory factory_;
  BT::Blackboard::Ptr blackboard_;
};

// Ticks until the tree leaves RUNNING or a generous deadline passes; returns the last status.
// The tree sleeps in whole milliseconds: long runs of many short exchanges pass a pause of zero
// to tick again at once.
BT::NodeStatus TickUntilDone(BT::Tree& tree,
                             std::chrono::microseconds period = std::chrono::milliseconds(1));

// The value of a code entry that no run has written.
inline constexpr int kNotWritten = 0;

// Marks the node's output entries as not written: codes kNotWritten, an empty pose and trajectory.
void ClearOutputs(BT::Blackboard& blackboard);

// What the run that ended with `status` published, read back from the blackboard.
RunOutcome PublishedOutcome(BT::NodeStatus status, const BT::Blackboard& blackboard);

// Response documents shared by the tests.
std::string SuccessAnswer();

}  // namespace kestrava_arm::bt::testing
