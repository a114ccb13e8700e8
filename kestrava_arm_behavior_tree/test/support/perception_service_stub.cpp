#include "perception_service_stub.hpp"

#include <stdexcept>
#include <utility>

namespace kestrava_arm::bt::testing {

namespace {
constexpr std::chrono::seconds kRequestDeadline{30};
}  // namespace

PerceptionServiceStub::PerceptionServiceStub(const rclcpp::Node::SharedPtr& node,
                                             const std::string& name)
    : service_(node->create_service<ArmPerceptionCommon>(
          name, [this](std::shared_ptr<rmw_request_id_t> id,
                       std::shared_ptr<ArmPerceptionCommon::Request> request) {
            OnRequest(std::move(id), std::move(request));
          })) {}

void PerceptionServiceStub::OnRequest(std::shared_ptr<rmw_request_id_t> id,
                                      std::shared_ptr<ArmPerceptionCommon::Request> request) {
  const std::lock_guard<std::mutex> lock(mutex_);
  requests_.push_back({std::move(id), request->request_yaml});
  if (automatic_answer_) {
    Send(requests_.back(), *automatic_answer_);
  }
  if (observer_) {
    observer_(requests_.size() - 1, requests_.back().request_yaml);
  }
  arrived_.notify_all();
}

void PerceptionServiceStub::AnswerAllWith(const std::string& response_yaml) {
  const std::lock_guard<std::mutex> lock(mutex_);
  automatic_answer_ = response_yaml;
}

std::string PerceptionServiceStub::WaitForRequest(std::size_t index) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!arrived_.wait_for(lock, kRequestDeadline, [&] { return requests_.size() > index; })) {
    throw std::runtime_error("the perception service stub received too few requests");
  }
  return requests_[index].request_yaml;
}

void PerceptionServiceStub::Answer(std::size_t index, const std::string& response_yaml) {
  const std::lock_guard<std::mutex> lock(mutex_);
  Send(requests_.at(index), response_yaml);
}

void PerceptionServiceStub::ForgetRequests() {
  const std::lock_guard<std::mutex> lock(mutex_);
  requests_.clear();
}

void PerceptionServiceStub::ObserveRequests(RequestObserver observer) {
  const std::lock_guard<std::mutex> lock(mutex_);
  observer_ = std::move(observer);
}

void PerceptionServiceStub::Send(const Received& request, const std::string& response_yaml) {
  ArmPerceptionCommon::Response response;
  response.response_yaml = response_yaml;
  service_->send_response(*request.id, response);
}

}  // namespace kestrava_arm::bt::testing
