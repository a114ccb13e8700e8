#pragma once

// The parts of dds_round_trip that run on two threads: a run's timeline, and the client whose
// answer is parsed on the executor thread and handed to the waiting thread.

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "kestrava_arm_perception_srvs/srv/arm_perception_common.hpp"
#include "rclcpp/rclcpp.hpp"

namespace kestrava_arm::bench {

using ServiceType = kestrava_arm_perception_srvs::srv::ArmPerceptionCommon;
using Clock = std::chrono::steady_clock;

// Everything the node takes from a successful answer, without the node's checks; throws for an
// answer without a detection.
void ParseAnswer(const std::string& response_yaml);

double MillisecondsSince(Clock::time_point start);

// The moments of one run, each named after what had just ended; their differences are the run's
// segments. Only the run's own thread marks it; moments taken on another thread come in through
// Merge, in order of time.
class Timeline {
 public:
  using Moment = std::pair<std::string, Clock::time_point>;

  void Begin();
  void Mark(std::string what);
  void Merge(const std::vector<Moment>& moments);
  const std::vector<Moment>& marks() const { return marks_; }

 private:
  std::vector<Moment> marks_;
};

// Waits up to the node's own wait at each start for the service; throws when it is not there.
void CheckAvailability(rclcpp::Client<ServiceType>& client, Timeline& timeline);

// A client on the host's node, whose executor spins on a thread of its own: the answer is parsed
// there and handed to the waiting thread, as the node's answer reaches the ticking thread.
class HandedOffClient {
 public:
  HandedOffClient(std::function<std::shared_ptr<ServiceType::Request>()> make_request,
                  const rclcpp::Node::SharedPtr& node, const std::string& service_name,
                  std::chrono::milliseconds answer_limit);

  // The run's time in milliseconds. Throws when no answer comes within the limit; the request is
  // then withdrawn, and an answer that is on its way touches nothing of this run.
  double RoundTrip(Timeline& timeline);

 private:
  class Handoff;

  std::function<std::shared_ptr<ServiceType::Request>()> make_request_;
  rclcpp::Client<ServiceType>::SharedPtr client_;
  std::chrono::milliseconds answer_limit_;
};

}  // namespace kestrava_arm::bench
