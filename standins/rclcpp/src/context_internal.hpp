#pragma once

#include <atomic>
#include <memory>

#include "rclcpp/context.hpp"

namespace rclcpp::detail {

// One initialisation of the context; nodes keep the one they were created in.
struct ContextInstance {
  std::atomic<bool> valid{true};
  // rclcpp's graph listener: started by the first wait for a graph change, stopped by shutdown.
  std::atomic<bool> graph_listener_started{false};
};

// The current initialisation of the global context, checked as rcl checks the context of a new
// guard condition or wait set: RCLInvalidArgument before the first init(), RCLError after
// shutdown, each with `error_prefix` before rcl's text.
std::shared_ptr<ContextInstance> valid_context_instance(const char* error_prefix);
[[noreturn]] void throw_context_not_valid(const char* error_prefix);

// Something that sleeps until woken, e.g. an idle executor.
class WakeTarget {
 public:
  virtual ~WakeTarget() = default;
  virtual void wake() = 0;
};

// Registered targets are woken when the context shuts down.
void register_wake_target(std::weak_ptr<WakeTarget> target);

bool global_context_is_valid();

// While installed, the selected signals shut the global context down.
void install_signal_handlers(SignalHandlerOptions options);
void uninstall_signal_handlers();

}  // namespace rclcpp::detail
