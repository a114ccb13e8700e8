#include "handed_off_client.hpp"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <optional>
#include <stdexcept>

#include <yaml-cpp/yaml.h>

namespace kestrava_arm::bench {
namespace {

constexpr std::chrono::seconds kAvailabilityWait{1};  // the node's own wait at each start

}  // namespace

void ParseAnswer(const std::string& response_yaml) {
  const YAML::Node answer = YAML::Load(response_yaml);
  if (!answer["success"].as<bool>()) {
    throw std::runtime_error("the service did not answer with a detection");
  }
  for (const char* block : {"arm_base_end", "camera_end"}) {
    const YAML::Node pose = answer[block];
    pose["translation"].as<std::vector<double>>();
    pose["rotation"].as<std::vector<double>>();
    pose["description"].as<std::string>();
  }
}

double MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void Timeline::Begin() {
  marks_.clear();
  Mark("start");
}

void Timeline::Mark(std::string what) {
  marks_.emplace_back(std::move(what), Clock::now());
}

void Timeline::Merge(const std::vector<Moment>& moments) {
  marks_.insert(marks_.end(), moments.begin(), moments.end());
  std::stable_sort(marks_.begin(), marks_.end(),
                   [](const Moment& a, const Moment& b) { return a.second < b.second; });
}

void CheckAvailability(rclcpp::Client<ServiceType>& client, Timeline& timeline) {
  if (!client.wait_for_service(kAvailabilityWait)) {
    throw std::runtime_error("the perception service is not available");
  }
  timeline.Mark("availability checked");
}

// What the executor thread hands to the waiting thread: its moments, or why it could not parse
// the answer. Shared by both, so that either may be the last to let go of it.
class HandedOffClient::Handoff {
 public:
  // On the executor thread.
  void Take(const rclcpp::Client<ServiceType>::SharedFuture& future) {
    std::vector<Timeline::Moment> moments{{"answer taken (executor thread)", Clock::now()}};
    std::exception_ptr error;
    try {
      ParseAnswer(future.get()->response_yaml);
      moments.emplace_back("answer parsed (executor thread)", Clock::now());
    } catch (...) {
      error = std::current_exception();
    }
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      moments_ = std::move(moments);
      error_ = error;
      done_ = true;
    }
    done_signal_.notify_one();
  }

  // On the waiting thread: the executor thread's moments, or nothing when no answer came within
  // the limit. Rethrows what parsing the answer threw.
  std::optional<std::vector<Timeline::Moment>> Await(std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!done_signal_.wait_for(lock, limit, [this] { return done_; })) {
      return std::nullopt;
    }
    if (error_) {
      std::rethrow_exception(error_);
    }
    return std::move(moments_);
  }

 private:
  std::mutex mutex_;
  std::condition_variable done_signal_;
  bool done_ = false;
  std::vector<Timeline::Moment> moments_;
  std::exception_ptr error_;
};

HandedOffClient::HandedOffClient(
    std::function<std::shared_ptr<ServiceType::Request>()> make_request,
    const rclcpp::Node::SharedPtr& node, const std::string& service_name,
    std::chrono::milliseconds answer_limit)
    : make_request_(std::move(make_request)),
      client_(node->create_client<ServiceType>(service_name)),
      answer_limit_(answer_limit) {}

double HandedOffClient::RoundTrip(Timeline& timeline) {
  const Clock::time_point start = Clock::now();
  auto request = make_request_();
  timeline.Mark("request emitted");
  CheckAvailability(*client_, timeline);
  auto handoff = std::make_shared<Handoff>();
  const auto sent = client_->async_send_request(
      std::move(request),
      // NOLINTNEXTLINE(performance-unnecessary-value-param): the client's callback signature
      [handoff](rclcpp::Client<ServiceType>::SharedFuture future) { handoff->Take(future); });
  timeline.Mark("request sent");
  const auto moments = handoff->Await(answer_limit_);
  if (!moments) {
    client_->remove_pending_request(sent.request_id);
    throw std::runtime_error("no answer within " + std::to_string(answer_limit_.count()) + " ms");
  }
  timeline.Merge(*moments);
  timeline.Mark("handed over (waiting thread)");
  return MillisecondsSince(start);
}

}  // namespace kestrava_arm::bench
