#include "ros_session.hpp"

#include <exception>
#include <iostream>
#include <stdexcept>

#include "kestrava_arm_host/ros_security.hpp"

namespace kestrava_arm::host {
namespace {

std::vector<std::string> ProgramArguments(const std::string& program,
                                          const std::vector<std::string>& ros_args) {
  std::vector<std::string> arguments{program};
  arguments.insert(arguments.end(), ros_args.begin(), ros_args.end());
  return arguments;
}

}  // namespace

RosSession::Context::Context(const std::vector<std::string>& arguments) {
  std::vector<const char*> argv;
  for (const std::string& argument : arguments) {
    argv.push_back(argument.c_str());
  }
  // The host handles SIGINT/SIGTERM itself: it halts the tree before the context goes down.
  rclcpp::init(static_cast<int>(argv.size()), argv.data(), rclcpp::InitOptions(),
               rclcpp::SignalHandlerOptions::None);
}

RosSession::Context::~Context() {
  rclcpp::shutdown();
}

RosSession::RosSession(const std::string& node_name, const std::vector<std::string>& ros_args) try
    : context_(ProgramArguments(node_name, ros_args)),
      node_(std::make_shared<rclcpp::Node>(node_name)) {
  executor_.add_node(node_);
  spinner_ = std::thread([this] {
    try {
      executor_.spin();
    } catch (const std::exception& error) {
      std::cerr << "bt_host: the executor stopped: " << error.what() << std::endl;
    }
  });
} catch (const std::exception& error) {
  throw std::runtime_error(WithRosSecurity(error.what(), ros_args));
}

RosSession::~RosSession() {
  Stop();
}

void RosSession::Stop() {
  // Shutting the context down (rather than only cancelling) also ends a spin that has not
  // started yet.
  rclcpp::shutdown();
  if (spinner_.joinable()) {
    spinner_.join();
  }
}

}  // namespace kestrava_arm::host
