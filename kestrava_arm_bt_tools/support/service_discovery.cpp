#include "kestrava_arm_host/service_discovery.hpp"

#include <algorithm>

#include "kestrava_arm_perception_srvs/srv/arm_perception_common.hpp"

namespace kestrava_arm::host {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Short enough that a stop request ends the wait at once.
constexpr milliseconds kWaitSlice{100};

milliseconds MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration_cast<milliseconds>(Clock::now() - start);
}

}  // namespace

std::optional<milliseconds> WaitForPerceptionService(const rclcpp::Node::SharedPtr& node,
                                                     const std::string& service_name,
                                                     milliseconds limit,
                                                     const std::function<bool()>& stop_requested) {
  const auto client =
      node->create_client<kestrava_arm_perception_srvs::srv::ArmPerceptionCommon>(service_name);
  const Clock::time_point start = Clock::now();
  while (!stop_requested()) {
    const milliseconds remaining = limit - MillisecondsSince(start);
    if (client->wait_for_service(std::clamp(remaining, milliseconds(0), kWaitSlice))) {
      return MillisecondsSince(start);
    }
    if (remaining <= kWaitSlice) {
      break;
    }
  }
  return std::nullopt;
}

}  // namespace kestrava_arm::host
