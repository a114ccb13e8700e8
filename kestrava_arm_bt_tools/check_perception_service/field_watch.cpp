#include "field_watch.hpp"

#include <iostream>
#include <memory>
#include <optional>
#include <stdexcept>

#include "exchange_pairing.hpp"
#include "exchange_verdict.hpp"
#include "exit_status.hpp"
#include "kestrava_arm_behavior_tree/common/service_introspection.hpp"
#include "kestrava_arm_host/command_line.hpp"
#include "kestrava_arm_host/ros_security.hpp"
#include "kestrava_arm_perception_srvs/srv/arm_perception_common.hpp"
#include "live_check.hpp"
#include "rclcpp/rclcpp.hpp"

namespace kestrava_arm::check {

#if RCLCPP_VERSION_GTE(28, 0, 0)
namespace {

using ArmPerceptionCommon = kestrava_arm_perception_srvs::srv::ArmPerceptionCommon;
using EventMessage = ArmPerceptionCommon::Event;
using Clock = ExchangePairer::Clock;

// Long enough for the other side's answer event, which follows the first within moments.
constexpr std::chrono::milliseconds kSettle{250};
constexpr std::chrono::milliseconds kPoll{50};

const char* EventTypeName(std::uint8_t type) {
  using Info = service_msgs::msg::ServiceEventInfo;
  switch (type) {
    case Info::REQUEST_SENT:
      return host::kRequestSent;
    case Info::REQUEST_RECEIVED:
      return host::kRequestReceived;
    case Info::RESPONSE_SENT:
      return host::kResponseSent;
    case Info::RESPONSE_RECEIVED:
      return host::kResponseReceived;
    default:
      return "UNKNOWN";
  }
}

template <typename Bytes>
std::string HexOf(const Bytes& bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (const auto byte : bytes) {
    hex += kDigits[(static_cast<unsigned>(byte) >> 4U) & 0xFU];
    hex += kDigits[static_cast<unsigned>(byte) & 0xFU];
  }
  return hex;
}

ServiceEvent ServiceEventOf(const EventMessage& message) {
  ServiceEvent event;
  event.event.type = EventTypeName(message.info.event_type);
  event.event.stamp_ns = rclcpp::Time(message.info.stamp).nanoseconds();
  event.client_gid = HexOf(message.info.client_gid);
  event.sequence = message.info.sequence_number;
  if (!message.request.empty()) {
    event.request_yaml = message.request.front().request_yaml;
  }
  if (!message.response.empty()) {
    event.answer_yaml = message.response.front().response_yaml;
  }
  return event;
}

// Each completed exchange: its line, its line of the recording, its place in the summary.
class ExchangeSink {
 public:
  explicit ExchangeSink(const std::string& record_file) {
    if (record_file.empty()) {
      return;
    }
    try {
      record_.emplace(record_file);
    } catch (const std::runtime_error& error) {
      throw SetupError(error.what());
    }
  }

  void Take(const host::RecordedExchange& exchange) {
    const ExchangeVerdict verdict = JudgeExchange(exchange);
    std::cout << ExchangeLine(exchange, verdict) << std::endl;
    if (record_) {
      record_->Write(exchange);
    }
    tally_.Add(verdict);
  }

  const ExchangeTally& tally() const { return tally_; }

 private:
  std::optional<host::RecordingWriter> record_;
  ExchangeTally tally_;
};

class FieldWatch {
 public:
  FieldWatch(const CheckOptions& options, ExchangeSink& sink)
      : options_(options),
        sink_(sink),
        pairer_(options.time_limit, kSettle),
        node_(std::make_shared<rclcpp::Node>("check_perception_service")) {
    // Reliable and deep, so that a burst of events is not thinned out before it is read.
    subscription_ = node_->create_subscription<EventMessage>(
        options.service_name + "/_service_event", rclcpp::QoS(rclcpp::KeepLast(1000)).reliable(),
        [this](const EventMessage& message) { OnEvent(message); });
    executor_.add_node(node_);
  }

  std::size_t Run() {
    const Clock::time_point started = Clock::now();
    while (rclcpp::ok() && !Finished(started)) {
      executor_.spin_once(kPoll);
      for (const host::RecordedExchange& exchange : pairer_.TakeDue(Clock::now())) {
        Take(exchange);
      }
    }
    auto [answered, awaiting] = pairer_.TakeAnsweredAtStop();
    for (const host::RecordedExchange& exchange : answered) {
      sink_.Take(exchange);
    }
    return awaiting;
  }

 private:
  void OnEvent(const EventMessage& message) {
    for (const host::RecordedExchange& exchange :
         pairer_.Add(ServiceEventOf(message), Clock::now())) {
      Take(exchange);
    }
  }

  void Take(const host::RecordedExchange& exchange) {
    sink_.Take(exchange);
    ++taken_;
  }

  bool Finished(Clock::time_point started) const {
    return (options_.watch_count && taken_ >= *options_.watch_count) ||
           (options_.watch_duration && Clock::now() - started >= *options_.watch_duration);
  }

  const CheckOptions& options_;
  ExchangeSink& sink_;
  ExchangePairer pairer_;
  std::size_t taken_ = 0;
  rclcpp::Node::SharedPtr node_;
  rclcpp::Subscription<EventMessage>::SharedPtr subscription_;
  rclcpp::executors::SingleThreadedExecutor executor_;
};

}  // namespace

int RunFieldWatch(int argc, const char* const argv[], const CheckOptions& options) {
  ExchangeSink sink(options.record_file);
  std::unique_ptr<RosContext> context;
  std::unique_ptr<FieldWatch> watch;
  try {
    context = std::make_unique<RosContext>(argc, argv);
    watch = std::make_unique<FieldWatch>(options, sink);
  } catch (const std::exception& error) {
    throw SetupError(host::WithRosSecurity(error.what(), options.ros_args));
  }
  std::cerr << "watching " << options.service_name << "/_service_event" << std::endl;
  const std::size_t awaiting = watch->Run();
  std::cout << TallySummary(sink.tally());
  if (awaiting > 0) {
    std::cout << awaiting << " request(s) still awaiting an answer when the watch stopped\n";
  }
  std::cout << std::flush;
  return sink.tally().AllTaken() && awaiting == 0 ? kExitAllTaken : kExitRefused;
}

#else

int RunFieldWatch(int, const char* const[], const CheckOptions&) {
  throw host::UsageError("--watch: " + *bt::IntrospectionUnsupported());
}

#endif

}  // namespace kestrava_arm::check
