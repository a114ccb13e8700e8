#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>

namespace kestrava_arm::host {

// Runs each scheduled reply a fixed delay after it was scheduled, on a thread of its own, so
// that a slow answer never blocks the executor that received the request. Without a delay a
// reply runs at once on the scheduling thread. Once stopped it runs no reply. Schedule and Stop
// may be called from any threads at once.
class ReplyScheduler {
 public:
  explicit ReplyScheduler(std::chrono::milliseconds delay);
  ~ReplyScheduler();
  ReplyScheduler(const ReplyScheduler&) = delete;
  ReplyScheduler& operator=(const ReplyScheduler&) = delete;

  // False, and the reply is not run, once Stop() has begun.
  bool Schedule(std::function<void()> reply);
  // Stops the thread and drops the replies not yet due; returns how many were dropped. A reply
  // that is running already, on the thread or on a scheduling thread, may still be running.
  std::size_t Stop();

 private:
  using Clock = std::chrono::steady_clock;

  void RunDueReplies();

  const std::chrono::milliseconds delay_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::pair<Clock::time_point, std::function<void()>>> pending_;
  bool stopping_ = false;
  std::thread worker_;
};

}  // namespace kestrava_arm::host
