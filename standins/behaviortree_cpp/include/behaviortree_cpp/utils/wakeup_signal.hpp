#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace BT {

// One-shot signal a node raises to make the tree tick again before its sleep ends.
class WakeUpSignal {
 public:
  // True if the signal was raised (now or before the wait); consumes it either way.
  bool waitFor(std::chrono::microseconds timeout) {
    std::unique_lock lock(mutex_);
    const bool raised = cv_.wait_for(lock, timeout, [this] { return ready_; });
    ready_ = false;
    return raised;
  }

  void emitSignal() {
    {
      std::lock_guard lock(mutex_);
      ready_ = true;
    }
    cv_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool ready_ = false;
};

}  // namespace BT
