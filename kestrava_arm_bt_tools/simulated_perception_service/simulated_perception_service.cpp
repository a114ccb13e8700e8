#include "kestrava_arm_host/simulated_perception_service.hpp"

#include <exception>
#include <stdexcept>
#include <utility>

#include "kestrava_arm_host/console_log.hpp"
#include "kestrava_arm_host/request_check.hpp"

namespace kestrava_arm::host {

SimulatedPerceptionService::SimulatedPerceptionService(const rclcpp::Node::SharedPtr& node,
                                                       SimulatedServiceConfig config)
    : config_(std::move(config)),
      log_(MakeConsoleLogger("perception_sim")),
      replies_(config_.reply_delay) {
  // The deferred form: the answer is sent later through the service handle.
  try {
    service_ = node->create_service<ServiceType>(
        config_.service_name,
        [this](std::shared_ptr<Service> service, std::shared_ptr<rmw_request_id_t> request_id,
               std::shared_ptr<ServiceType::Request> request) {
          OnRequest(service, request_id, *request);
        });
  } catch (const std::exception& error) {
    // The middleware's words do not always name the service (under SROS2 permissions, say).
    throw std::runtime_error("cannot offer " + config_.service_name + ": " + error.what());
  }
  log_->info("offering {}, answering after {} ms", service_->get_service_name(),
             config_.reply_delay.count());
}

SimulatedPerceptionService::~SimulatedPerceptionService() {
  const std::size_t dropped = replies_.Stop();
  if (dropped > 0) {
    log_->info("{} request(s) left unanswered", dropped);
  }
}

std::size_t SimulatedPerceptionService::RequestCount() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return request_count_;
}

std::string SimulatedPerceptionService::LastRequest() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return last_request_;
}

void SimulatedPerceptionService::OnRequest(const std::shared_ptr<Service>& service,
                                           const std::shared_ptr<rmw_request_id_t>& request_id,
                                           const ServiceType::Request& request) {
  const std::size_t number = Record(request.request_yaml);
  log_->info("request #{}:\n{}", number, request.request_yaml);
  if (const auto complaint = CheckRequestDocument(request.request_yaml)) {
    log_->error("request #{} is malformed: {}", number, *complaint);
  }
  replies_.Schedule([this, service, request_id, number] { Reply(*service, *request_id, number); });
}

std::size_t SimulatedPerceptionService::Record(const std::string& request_yaml) {
  const std::lock_guard<std::mutex> lock(mutex_);
  last_request_ = request_yaml;
  return ++request_count_;
}

void SimulatedPerceptionService::Reply(Service& service, rmw_request_id_t& request_id,
                                       std::size_t number) {
  ServiceType::Response response;
  response.response_yaml = config_.response_yaml;
  try {
    service.send_response(request_id, response);
    log_->info("answered request #{}", number);
  } catch (const std::exception& error) {
    // A delayed answer can come after the ROS context was shut down.
    log_->error("could not answer request #{}: {}", number, error.what());
  }
}

}  // namespace kestrava_arm::host
