#pragma once

#include <string>

#include "rclcpp/context.hpp"

namespace rclcpp {

// Initialises the global context; SIGINT/SIGTERM then shut it down (as selected).
void init(int argc, char const* const* argv, const InitOptions& init_options = InitOptions(),
          SignalHandlerOptions signal_handler_options = SignalHandlerOptions::All);

bool ok(Context::SharedPtr context = nullptr);

bool shutdown(Context::SharedPtr context = nullptr,
              const std::string& reason = "user called rclcpp::shutdown()");

void on_shutdown(std::function<void()> callback, Context::SharedPtr context = nullptr);

}  // namespace rclcpp
