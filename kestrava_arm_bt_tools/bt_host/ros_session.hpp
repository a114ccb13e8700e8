#pragma once

#include <string>
#include <thread>
#include <vector>

#include "rclcpp/rclcpp.hpp"

namespace kestrava_arm::host {

// The process's ROS 2 side: the context, the node the plugins share and an executor spinning it
// on a thread of its own, so that service responses arrive while the tree is ticked.
class RosSession {
 public:
  // ros_args: "--ros-args" and what follows it, or nothing. When ROS 2 does not start, throws
  // std::runtime_error; with security on, its message names the enclave and the keystore.
  RosSession(const std::string& node_name, const std::vector<std::string>& ros_args);
  ~RosSession();
  RosSession(const RosSession&) = delete;
  RosSession& operator=(const RosSession&) = delete;

  const rclcpp::Node::SharedPtr& node() const { return node_; }

  // Shuts the context down and waits for the executor thread; no callback runs afterwards.
  void Stop();

 private:
  // Initialises the context before the executor needs it, and shuts it down after a failed
  // construction too.
  struct Context {
    explicit Context(const std::vector<std::string>& arguments);
    ~Context();
  };

  Context context_;
  rclcpp::Node::SharedPtr node_;
  rclcpp::executors::SingleThreadedExecutor executor_;
  std::thread spinner_;
};

}  // namespace kestrava_arm::host
