#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>

#include <spdlog/logger.h>

#include "kestrava_arm_host/reply_scheduler.hpp"
#include "kestrava_arm_perception_srvs/srv/arm_perception_common.hpp"
#include "rclcpp/rclcpp.hpp"

namespace kestrava_arm::host {

struct SimulatedServiceConfig {
  std::string service_name;
  std::string response_yaml;  // sent back verbatim, well formed or not
  std::chrono::milliseconds reply_delay{0};
};

// Stands in for the arm perception service: answers every request with one fixed response
// document, optionally after a delay, and complains in its log about malformed requests.
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

  void OnRequest(const std::shared_ptr<Service>& service,
                 const std::shared_ptr<rmw_request_id_t>& request_id,
                 const ServiceType::Request& request);
  std::size_t Record(const std::string& request_yaml);
  void Reply(Service& service, rmw_request_id_t& request_id, std::size_t number);

  const SimulatedServiceConfig config_;
  const std::shared_ptr<spdlog::logger> log_;
  mutable std::mutex mutex_;
  std::size_t request_count_ = 0;
  std::string last_request_;
  std::shared_ptr<Service> service_;
  // Last, so that its thread stops before anything a pending reply uses goes away.
  ReplyScheduler replies_;
};

}  // namespace kestrava_arm::host
