#pragma once

namespace rclcpp {

// Nodes here take no options; the type keeps the constructors' signatures.
class NodeOptions {
 public:
  NodeOptions() = default;
};

}  // namespace rclcpp
