#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

namespace rclcpp {

class InitOptions {
 public:
  InitOptions() = default;
};

enum class SignalHandlerOptions { All, SigInt, SigTerm, None };

class ContextAlreadyInitialized : public std::runtime_error {
 public:
  ContextAlreadyInitialized() : std::runtime_error("context is already initialized") {}
};

namespace detail {
struct ContextInstance;
}  // namespace detail

// The process-wide state that init() starts and shutdown() ends. Nodes created while it is
// valid belong to that initialisation; a later init() starts a new one.
class Context {
 public:
  using SharedPtr = std::shared_ptr<Context>;
  using OnShutdownCallback = std::function<void()>;

  Context() = default;
  Context(const Context&) = delete;
  Context& operator=(const Context&) = delete;
  virtual ~Context() = default;

  void init(int argc, char const* const* argv, const InitOptions& init_options = InitOptions());
  bool is_valid() const;
  // False when the context is not valid; otherwise runs the on-shutdown callbacks.
  bool shutdown(const std::string& reason);
  std::string shutdown_reason() const;
  OnShutdownCallback on_shutdown(OnShutdownCallback callback);

  // The initialisation that is current, or null before the first init().
  std::shared_ptr<detail::ContextInstance> instance() const;

 private:
  mutable std::mutex mutex_;
  std::shared_ptr<detail::ContextInstance> instance_;
  std::string shutdown_reason_;
  std::vector<OnShutdownCallback> on_shutdown_callbacks_;
};

namespace contexts {
Context::SharedPtr get_global_default_context();
}  // namespace contexts

}  // namespace rclcpp
