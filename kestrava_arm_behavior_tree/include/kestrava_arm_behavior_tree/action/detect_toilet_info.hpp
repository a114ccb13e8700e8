#pragma once

#include <chrono>
#include <cstdint>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "behaviortree_cpp/action_node.h"
#include "behaviortree_cpp/basic_types.h"
#include "kestrava_arm_behavior_tree/action/detect_toilet_info_codes_and_keys.hpp"
#include "kestrava_arm_behavior_tree/contract/perception_contract.hpp"
#include "kestrava_arm_behavior_tree/visibility_control.hpp"
#include "kestrava_arm_perception_srvs/srv/arm_perception_common.hpp"
#include "rclcpp/rclcpp.hpp"

namespace kestrava_arm::bt {

// Asks the arm perception service where the toilet of the current task is, without blocking
// the tree, and publishes the arm-base pose ("transfor_matrix"), the fixed-trajectory file
// ("fix_trajectory") and the outcome codes ("error_code", "status_code") on its output ports.
//
// The host puts the shared ROS 2 node and the service name on the blackboard before it builds
// the tree (detect_toilet_info_codes_and_keys.hpp names the entries), and spins that node
// with an executor: responses arrive on the executor's thread, ticks on the tree's thread. In a
// SubTree the node reads what its own blackboard lacks from the tree's root blackboard.
class KESTRAVA_ARM_BT_PUBLIC DetectToiletInfo : public BT::StatefulActionNode {
 public:
  using ArmPerceptionCommon = kestrava_arm_perception_srvs::srv::ArmPerceptionCommon;
  using ResponseFuture = std::shared_future<std::shared_ptr<ArmPerceptionCommon::Response>>;

  DetectToiletInfo(const std::string& name, const BT::NodeConfig& config);
  ~DetectToiletInfo() override;
  DetectToiletInfo(const DetectToiletInfo&) = delete;
  DetectToiletInfo& operator=(const DetectToiletInfo&) = delete;
  DetectToiletInfo(DetectToiletInfo&&) = delete;
  DetectToiletInfo& operator=(DetectToiletInfo&&) = delete;

  static BT::PortsList providedPorts();

  BT::NodeStatus onStart() override;
  BT::NodeStatus onRunning() override;
  void onHalted() override;

  // Completion callback of a request. Stores the outcome and the poses of the response when it
  // answers the request the current run is waiting for, and wakes the tree; any other response
  // is logged and dropped without touching the node's state.
  void ToiletInfoCallback(ResponseFuture future);

 private:
  // Shared with the callbacks of requests in flight, which may run after the node is gone.
  struct CallbackTarget {
    std::mutex mutex;
    DetectToiletInfo* node;
  };

  // The shared node into node_, under either of its names; false when there is none.
  bool ReadSharedNode(const BT::Blackboard& blackboard);
  // The input port "timeout_duration"; throws BT::RuntimeError, before anything is sent, when
  // the port cannot be read or holds NaN, a limit that never expires.
  double ReadTimeLimit() const;
  BT::NodeStatus SendRequest(std::shared_ptr<ArmPerceptionCommon::Request> request);
  BT::NodeStatus FailServiceUnavailable();
  BT::NodeStatus FinishWithResponse();
  BT::NodeStatus FinishWithTimeout();
  bool AwaitsResponseTo(const ResponseFuture& future) const;
  void StopAwaitingResponse();
  double ElapsedWholeMilliseconds() const;

  // Hand-off between the tick thread and the executor thread: the callback writes the results
  // and then sets the flag under this mutex; onRunning reads both under it.
  mutable std::mutex handoff_mutex_;

  std::optional<bool> response_received_{false};
  double timeout_duration_{3.0};
  // The steady clock: NTP may step the wall clock by hours while a run waits.
  std::chrono::steady_clock::time_point start_time_{};
  std::shared_ptr<rclcpp::Node> node_;
  std::string fix_trajectory_path_;
  // What the answer of the current run makes it publish, once the answer is there.
  RunOutcome outcome_;
  std::shared_ptr<rclcpp::Client<ArmPerceptionCommon>> client_;

  // The request the current run waits for: what async_send_request returned for it.
  struct AwaitedRequest {
    ResponseFuture response;
    int64_t id;
  };
  // Empty when no run waits for an answer.
  std::optional<AwaitedRequest> awaited_request_;
  std::shared_ptr<CallbackTarget> callback_target_;
};

}  // namespace kestrava_arm::bt
