#include "rclcpp/context.hpp"

#include <algorithm>
#include <utility>

#include "context_internal.hpp"
#include "graph.hpp"
#include "rclcpp/exceptions.hpp"
#include "rclcpp/utilities.hpp"

namespace rclcpp {
namespace detail {
namespace {

class WakeTargets {
 public:
  void add(std::weak_ptr<WakeTarget> target) {
    std::lock_guard<std::mutex> lock(mutex_);
    targets_.erase(std::remove_if(targets_.begin(), targets_.end(),
                                  [](const auto& weak) { return weak.expired(); }),
                   targets_.end());
    targets_.push_back(std::move(target));
  }

  void wake_all() {
    std::vector<std::shared_ptr<WakeTarget>> alive;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      for (const auto& weak : targets_) {
        if (auto target = weak.lock()) {
          alive.push_back(std::move(target));
        }
      }
    }
    for (const auto& target : alive) {
      target->wake();
    }
  }

 private:
  std::mutex mutex_;
  std::vector<std::weak_ptr<WakeTarget>> targets_;
};

// Never destroyed: executors and clients may outlive static destruction order.
WakeTargets& wake_targets() {
  static auto* targets = new WakeTargets;
  return *targets;
}

}  // namespace

void register_wake_target(std::weak_ptr<WakeTarget> target) {
  wake_targets().add(std::move(target));
}

bool global_context_is_valid() {
  return contexts::get_global_default_context()->is_valid();
}

std::shared_ptr<ContextInstance> valid_context_instance(const char* error_prefix) {
  auto instance = contexts::get_global_default_context()->instance();
  if (!instance) {
    RCL_SET_ERROR_MSG("context argument is null");
    exceptions::throw_from_rcl_error(RCL_RET_INVALID_ARGUMENT, error_prefix);
  }
  if (!instance->valid) {
    throw_context_not_valid(error_prefix);
  }
  return instance;
}

void throw_context_not_valid(const char* error_prefix) {
  RCL_SET_ERROR_MSG(
      "the given context is not valid, either rcl_init() was not called or rcl_shutdown() was "
      "called.");
  exceptions::throw_from_rcl_error(RCL_RET_NOT_INIT, error_prefix);
}

}  // namespace detail

void Context::init(int /*argc*/, char const* const* /*argv*/, const InitOptions& /*init_options*/) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (instance_ && instance_->valid) {
    throw ContextAlreadyInitialized();
  }
  instance_ = std::make_shared<detail::ContextInstance>();
  shutdown_reason_.clear();
}

bool Context::is_valid() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return instance_ && instance_->valid;
}

bool Context::shutdown(const std::string& reason) {
  std::vector<OnShutdownCallback> callbacks;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!instance_ || !instance_->valid) {
      return false;
    }
    instance_->valid = false;
    shutdown_reason_ = reason;
    callbacks = on_shutdown_callbacks_;
  }
  detail::Graph::instance().wake_waiters();
  detail::wake_targets().wake_all();
  for (const auto& callback : callbacks) {
    callback();
  }
  return true;
}

std::string Context::shutdown_reason() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return shutdown_reason_;
}

Context::OnShutdownCallback Context::on_shutdown(OnShutdownCallback callback) {
  std::lock_guard<std::mutex> lock(mutex_);
  on_shutdown_callbacks_.push_back(callback);
  return callback;
}

std::shared_ptr<detail::ContextInstance> Context::instance() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return instance_;
}

namespace contexts {

Context::SharedPtr get_global_default_context() {
  static auto* context = new Context::SharedPtr(std::make_shared<Context>());
  return *context;
}

}  // namespace contexts

namespace {

Context::SharedPtr or_global(Context::SharedPtr context) {
  return context ? std::move(context) : contexts::get_global_default_context();
}

}  // namespace

void init(int argc, char const* const* argv, const InitOptions& init_options,
          SignalHandlerOptions signal_handler_options) {
  contexts::get_global_default_context()->init(argc, argv, init_options);
  detail::install_signal_handlers(signal_handler_options);
}

bool ok(Context::SharedPtr context) {
  return or_global(std::move(context))->is_valid();
}

bool shutdown(Context::SharedPtr context, const std::string& reason) {
  const auto global = contexts::get_global_default_context();
  const auto target = or_global(std::move(context));
  const bool was_valid = target->shutdown(reason);
  if (target == global) {
    detail::uninstall_signal_handlers();
  }
  return was_valid;
}

void on_shutdown(std::function<void()> callback, Context::SharedPtr context) {
  or_global(std::move(context))->on_shutdown(std::move(callback));
}

}  // namespace rclcpp
