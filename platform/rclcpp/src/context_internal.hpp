#pragma once

#include <atomic>
#include <memory>

#include "rclcpp/context.hpp"

namespace rclcpp::detail {

// One initialisation of the context; nodes keep the one they were created in.
struct ContextInstance {
  std::atomic<bool> valid{true};
};

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
