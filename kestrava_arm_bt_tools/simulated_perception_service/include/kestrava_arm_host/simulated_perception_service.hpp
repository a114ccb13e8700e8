#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

#include "kestrava_arm_behavior_tree/common/service_introspection.hpp"
#include "kestrava_arm_host/answer_source.hpp"
#include "kestrava_arm_perception_srvs/srv/arm_perception_common.hpp"
#include "rclcpp/rclcpp.hpp"

namespace kestrava_arm::host {

struct SimulatedServiceConfig {
  std::string service_name;
  AnswerSource answers;  // a fixed document (sent back verbatim, well formed or not) or a replay
  // How long after its request each answer comes, unless the source gives a delay of its own.
  std::chrono::milliseconds reply_delay{0};
  bt::IntrospectionMode introspection = bt::IntrospectionMode::kOff;
};

// Stands in for the arm perception service: answers every request from its answer source (one
// fixed response document, or a recording replayed), after a delay where asked, and complains in
// its log about malformed requests and those it leaves unanswered. It may
// go before the executor that spins its node stops: what its callbacks use lives as long as they
// run, and a request that comes after it went is not answered.
class SimulatedPerceptionService {
 public:
  using ServiceType = kestrava_arm_perception_srvs::srv::ArmPerceptionCommon;

  SimulatedPerceptionService(const rclcpp::Node::SharedPtr& node, SimulatedServiceConfig config);
  ~SimulatedPerceptionService();
  SimulatedPerceptionService(const SimulatedPerceptionService&) = delete;
  SimulatedPerceptionService& operator=(const SimulatedPerceptionService&) = delete;

  std::size_t RequestCount() const;
  std::string LastRequest() const;

 private:
  using Service = rclcpp::Service<ServiceType>;
  class Responder;  // what the service's callbacks share

  std::shared_ptr<Responder> responder_;
  std::shared_ptr<Service> service_;
};

}  // namespace kestrava_arm::host
