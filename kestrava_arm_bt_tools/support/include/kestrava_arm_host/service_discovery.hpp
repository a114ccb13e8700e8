#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "rclcpp/rclcpp.hpp"

namespace kestrava_arm::host {

// Waits at most `limit` for a server of the perception service to be discovered, and stops early
// once stop_requested() turns true. Returns how long discovery took, or nothing when no server was
// found. A process that has just started may need seconds to discover one over DDS, longer than
// the node's own wait on its first tick.
std::optional<std::chrono::milliseconds> WaitForPerceptionService(
    const rclcpp::Node::SharedPtr& node, const std::string& service_name,
    std::chrono::milliseconds limit, const std::function<bool()>& stop_requested);

}  // namespace kestrava_arm::host
