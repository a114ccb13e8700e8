#pragma once

#include <stdexcept>

namespace rclcpp::graph_listener {

// Thrown when a node starts waiting for graph changes after its context has shut down the
// graph listener.
class GraphListenerShutdownError : public std::runtime_error {
 public:
  GraphListenerShutdownError() : std::runtime_error("GraphListener already shutdown") {}
};

}  // namespace rclcpp::graph_listener
