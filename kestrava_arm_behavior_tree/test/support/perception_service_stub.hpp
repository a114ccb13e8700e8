#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "kestrava_arm_perception_srvs/srv/arm_perception_common.hpp"
#include "rclcpp/rclcpp.hpp"

namespace kestrava_arm::bt::testing {

// A perception service whose answers the test controls: every request is held until the test
// answers it, unless an automatic answer is set.
class PerceptionServiceStub {
 public:
  using ArmPerceptionCommon = kestrava_arm_perception_srvs::srv::ArmPerceptionCommon;
  // Told of every request as it arrives, on the executor thread, with the stub's lock held: it
  // may hand the request to another thread that answers it later, but must not call the stub.
  using RequestObserver = std::function<void(std::size_t index, const std::string& request_yaml)>;

  PerceptionServiceStub(const rclcpp::Node::SharedPtr& node, const std::string& name);

  // Answers every request that arrives from now on with this document, at once.
  void AnswerAllWith(const std::string& response_yaml);
  // Waits until the index-th request (in arrival order) has arrived; returns its document.
  std::string WaitForRequest(std::size_t index);
  // Answers the index-th request (in arrival order).
  void Answer(std::size_t index, const std::string& response_yaml);
  // Forgets the requests received so far, so that long runs keep no history; the next request
  // gets index 0. Forgotten requests can no longer be answered.
  void ForgetRequests();
  // Tells `observer` of every request that arrives from now on; an empty one stops it.
  void ObserveRequests(RequestObserver observer);

 private:
  struct Received {
    std::shared_ptr<rmw_request_id_t> id;
    std::string request_yaml;
  };

  void OnRequest(std::shared_ptr<rmw_request_id_t> id,
                 std::shared_ptr<ArmPerceptionCommon::Request> request);
  void Send(const Received& request, const std::string& response_yaml);

  std::mutex mutex_;
  std::condition_variable arrived_;
  std::vector<Received> requests_;
  std::optional<std::string> automatic_answer_;
  RequestObserver observer_;
  rclcpp::Service<ArmPerceptionCommon>::SharedPtr service_;
};

}  // namespace kestrava_arm::bt::testing
