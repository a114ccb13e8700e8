#include "live_check.hpp"

#include <algorithm>
#include <memory>

#include "kestrava_arm_host/command_line.hpp"
#include "kestrava_arm_host/ros_security.hpp"
#include "kestrava_arm_host/service_discovery.hpp"
#include "kestrava_arm_perception_srvs/srv/arm_perception_common.hpp"
#include "rclcpp/rclcpp.hpp"

namespace kestrava_arm::check {
namespace {

using ArmPerceptionCommon = kestrava_arm_perception_srvs::srv::ArmPerceptionCommon;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

std::string RequestDocumentOf(const RequestSource& source, milliseconds time_limit) {
  if (source.request_file.empty()) {
    return bt::WritePerceptionRequest(source.settings, static_cast<double>(time_limit.count()))
        .request_yaml;
  }
  std::string document;
  try {
    document = host::ReadTextFile(source.request_file);
  } catch (const std::runtime_error& error) {
    throw SetupError(error.what());
  }
  if (const auto complaint = bt::CheckRequestDocument(document)) {
    throw SetupError("'" + source.request_file +
                     "' holds no request the node could send: " + *complaint);
  }
  return document;
}

class LiveSession {
 public:
  explicit LiveSession(const CheckOptions& options)
      : options_(options),
        node_(std::make_shared<rclcpp::Node>("check_perception_service")),
        client_(node_->create_client<ArmPerceptionCommon>(options.service_name)) {
    executor_.add_node(node_);
  }

  void AwaitService() {
    const auto stopped = [] { return !rclcpp::ok(); };
    // The client that sends the requests must have found the server too, not only the graph.
    if (!host::WaitForPerceptionService(node_, options_.service_name, options_.service_wait,
                                        stopped) ||
        !client_->wait_for_service(options_.service_wait)) {
      throw SetupError("no server of " + options_.service_name + " discovered within " +
                       std::to_string(options_.service_wait.count()) + " ms");
    }
  }

  Exchange Ask(const std::string& request_yaml) {
    auto request = std::make_shared<ArmPerceptionCommon::Request>();
    request->request_yaml = request_yaml;
    const Clock::time_point sent_at = Clock::now();
    auto sent = client_->async_send_request(request);
    const milliseconds wait =
        options_.time_limit + std::max(options_.time_limit, milliseconds(1000));
    const rclcpp::FutureReturnCode code = executor_.spin_until_future_complete(sent.future, wait);
    const auto time = std::chrono::duration_cast<milliseconds>(Clock::now() - sent_at);
    if (code != rclcpp::FutureReturnCode::SUCCESS) {
      client_->remove_pending_request(sent.request_id);
      if (!rclcpp::ok()) {
        throw SetupError("interrupted");
      }
      return {std::nullopt, time};
    }
    return {sent.future.get()->response_yaml, time};
  }

 private:
  const CheckOptions& options_;
  rclcpp::Node::SharedPtr node_;
  rclcpp::Client<ArmPerceptionCommon>::SharedPtr client_;
  rclcpp::executors::SingleThreadedExecutor executor_;
};

}  // namespace

std::vector<RequestResult> PrepareRequests(const CheckOptions& options) {
  std::vector<RequestResult> requests;
  for (const RequestSource& source : options.requests) {
    requests.push_back({source.name, RequestDocumentOf(source, options.time_limit), {}});
  }
  return requests;
}

LiveResults RunLiveCheck(int argc, const char* const argv[], const CheckOptions& options) {
  LiveResults results{options.service_name, options.time_limit, PrepareRequests(options)};
  std::unique_ptr<RosContext> context;
  std::unique_ptr<LiveSession> session;
  try {
    context = std::make_unique<RosContext>(argc, argv);
    session = std::make_unique<LiveSession>(options);
  } catch (const std::exception& error) {
    throw SetupError(host::WithRosSecurity(error.what(), options.ros_args));
  }
  session->AwaitService();
  for (RequestResult& request : results.requests) {
    for (int round = 0; round < options.rounds; ++round) {
      request.exchanges.push_back(session->Ask(request.request_yaml));
    }
  }
  return results;
}

}  // namespace kestrava_arm::check
