#include "kestrava_arm_host/simulated_perception_service.hpp"

#include <exception>
#include <mutex>
#include <stdexcept>
#include <utility>

#include <spdlog/logger.h>

#include "kestrava_arm_host/console_log.hpp"
#include "kestrava_arm_host/reply_scheduler.hpp"
#include "kestrava_arm_host/request_check.hpp"

namespace kestrava_arm::host {
namespace {

using ServiceType = SimulatedPerceptionService::ServiceType;
using Service = rclcpp::Service<ServiceType>;

// A reply holds what it sends and logs, and nothing of the service, so that it may run after the
// service went.
void Reply(Service& service, rmw_request_id_t& request_id, const std::string& response_yaml,
           spdlog::logger& log, std::size_t number) {
  ServiceType::Response response;
  response.response_yaml = response_yaml;
  try {
    service.send_response(request_id, response);
    log.info("answered request #{}", number);
  } catch (const std::exception& error) {
    // A delayed answer can come after the ROS context was shut down.
    log.error("could not answer request #{}: {}", number, error.what());
  }
}

}  // namespace

// Owned by the service and, while one runs, by the callback of a request.
class SimulatedPerceptionService::Responder {
 public:
  explicit Responder(SimulatedServiceConfig config)
      : config_(std::move(config)),
        log_(MakeConsoleLogger("perception_sim")),
        replies_(config_.reply_delay) {}

  void OnRequest(const std::shared_ptr<Service>& service,
                 const std::shared_ptr<rmw_request_id_t>& request_id,
                 const ServiceType::Request& request) {
    const std::size_t number = Record(request.request_yaml);
    log_->info("request #{}:\n{}", number, request.request_yaml);
    if (const auto complaint = CheckRequestDocument(request.request_yaml)) {
      log_->error("request #{} is malformed: {}", number, *complaint);
    }
    AnswerSource::Reply reply = config_.answers.ReplyTo(request.request_yaml);
    if (!reply.answer_yaml) {
      if (reply.matched) {
        log_->warn("request #{} {}", number, reply.note);
      } else {
        log_->error("request #{} {}", number, reply.note);
      }
      return;
    }
    if (!reply.note.empty()) {
      log_->info("request #{} gets {}", number, reply.note);
    }
    const bool scheduled = replies_.Schedule(
        [service, request_id, response_yaml = std::move(*reply.answer_yaml), log = log_, number] {
          Reply(*service, *request_id, response_yaml, *log, number);
        },
        reply.delay.value_or(config_.reply_delay));
    if (!scheduled) {
      log_->info("request #{} left unanswered: the service is going away", number);
    }
  }

  void StopReplies() {
    if (const std::size_t dropped = replies_.Stop(); dropped > 0) {
      log_->info("{} request(s) left unanswered", dropped);
    }
  }

  std::size_t RequestCount() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return request_count_;
  }

  std::string LastRequest() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return last_request_;
  }

  const SimulatedServiceConfig& config() const { return config_; }
  spdlog::logger& log() const { return *log_; }

 private:
  std::size_t Record(const std::string& request_yaml) {
    const std::lock_guard<std::mutex> lock(mutex_);
    last_request_ = request_yaml;
    return ++request_count_;
  }

  const SimulatedServiceConfig config_;
  const std::shared_ptr<spdlog::logger> log_;
  mutable std::mutex mutex_;
  std::size_t request_count_ = 0;
  std::string last_request_;
  ReplyScheduler replies_;
};

SimulatedPerceptionService::SimulatedPerceptionService(const rclcpp::Node::SharedPtr& node,
                                                       SimulatedServiceConfig config)
    : responder_(std::make_shared<Responder>(std::move(config))) {
  const std::string& name = responder_->config().service_name;
  // The deferred form: the answer is sent later through the service handle. The callback holds
  // the responder only while it runs: a request after the service went finds none.
  try {
    // NOLINTBEGIN(performance-unnecessary-value-param): the service's callback signature
    service_ = node->create_service<ServiceType>(
        name, [responder = std::weak_ptr<Responder>(responder_)](
                  std::shared_ptr<Service> service, std::shared_ptr<rmw_request_id_t> request_id,
                  std::shared_ptr<ServiceType::Request> request) {
          if (const auto alive = responder.lock()) {
            alive->OnRequest(service, request_id, *request);
          }
        });
    // NOLINTEND(performance-unnecessary-value-param)
  } catch (const std::exception& error) {
    // The middleware's words do not always name the service (under SROS2 permissions, say).
    throw std::runtime_error("cannot offer " + name + ": " + error.what());
  }
  const bt::IntrospectionMode introspection = responder_->config().introspection;
  std::string events;
  if (introspection != bt::IntrospectionMode::kOff) {
    try {
      bt::ConfigureIntrospection(*service_, *node, introspection);
    } catch (const std::exception& error) {
      throw std::runtime_error("cannot publish the service events of " + name + ": " +
                               error.what());
    }
    events = std::string(", publishing the ") + bt::IntrospectionModeName(introspection) +
             " of its service events";
  }
  responder_->log().info("offering {}, answering with {}; reply delay {} ms{}",
                         service_->get_service_name(), responder_->config().answers.Description(),
                         responder_->config().reply_delay.count(), events);
}

SimulatedPerceptionService::~SimulatedPerceptionService() {
  service_.reset();
  responder_->StopReplies();
}

std::size_t SimulatedPerceptionService::RequestCount() const {
  return responder_->RequestCount();
}

std::string SimulatedPerceptionService::LastRequest() const {
  return responder_->LastRequest();
}

}  // namespace kestrava_arm::host
