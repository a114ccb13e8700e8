#include "stop_signal.hpp"

#include <signal.h>
#include <atomic>

namespace kestrava_arm::host {
namespace {

std::atomic<bool> stop_signal_received{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the flag is set in a signal handler");

void RaiseStopFlag(int /*signal*/) {
  stop_signal_received.store(true);
}

}  // namespace

void InstallStopSignalHandlers() {
  struct sigaction action {};
  action.sa_handler = RaiseStopFlag;
  action.sa_flags = SA_RESETHAND;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

bool StopSignalReceived() {
  return stop_signal_received.load();
}

}  // namespace kestrava_arm::host
