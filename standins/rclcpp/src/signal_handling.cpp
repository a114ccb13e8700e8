// SIGINT/SIGTERM shut the global context down. The handler only writes a byte to a pipe (the
// one thing it may safely do); a watcher thread reads it and shuts the context down. The
// handlers stay installed until rclcpp::shutdown() removes them.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "context_internal.hpp"
#include "rclcpp/context.hpp"

namespace rclcpp::detail {
namespace {

constexpr char kSignalled = 's';
constexpr char kStop = 'q';

int wake_pipe[2] = {-1, -1};

extern "C" void on_signal(int /*signal_number*/) {
  const ssize_t written = write(wake_pipe[1], &kSignalled, 1);
  static_cast<void>(written);
}

class SignalWatcher {
 public:
  void install(SignalHandlerOptions options) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (watcher_.joinable() || options == SignalHandlerOptions::None) {
      return;
    }
    if (wake_pipe[0] < 0 && pipe2(wake_pipe, O_CLOEXEC) != 0) {
      return;
    }
    for (const int signal_number : signals_for(options)) {
      struct sigaction action {};
      action.sa_handler = on_signal;
      sigemptyset(&action.sa_mask);
      struct sigaction previous {};
      sigaction(signal_number, &action, &previous);
      previous_.push_back({signal_number, previous});
    }
    watcher_ = std::thread([] { watch(); });
  }

  void uninstall() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!watcher_.joinable()) {
      return;
    }
    for (const auto& [signal_number, previous] : previous_) {
      sigaction(signal_number, &previous, nullptr);
    }
    previous_.clear();
    const ssize_t written = write(wake_pipe[1], &kStop, 1);
    static_cast<void>(written);
    watcher_.join();
  }

 private:
  static std::vector<int> signals_for(SignalHandlerOptions options) {
    switch (options) {
      case SignalHandlerOptions::All:
        return {SIGINT, SIGTERM};
      case SignalHandlerOptions::SigInt:
        return {SIGINT};
      case SignalHandlerOptions::SigTerm:
        return {SIGTERM};
      case SignalHandlerOptions::None:
        break;
    }
    return {};
  }

  static void watch() {
    char byte = 0;
    while (read(wake_pipe[0], &byte, 1) == 1 && byte != kStop) {
      contexts::get_global_default_context()->shutdown("signal handler");
    }
  }

  std::mutex mutex_;
  std::thread watcher_;
  std::vector<std::pair<int, struct sigaction>> previous_;
};

// Never destroyed: the watcher may still run at exit when nobody called shutdown().
SignalWatcher& signal_watcher() {
  static auto* watcher = new SignalWatcher;
  return *watcher;
}

}  // namespace

void install_signal_handlers(SignalHandlerOptions options) {
  signal_watcher().install(options);
}

void uninstall_signal_handlers() {
  signal_watcher().uninstall();
}

}  // namespace rclcpp::detail
