#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <utility>

namespace kestrava_arm::host {

// Runs each scheduled reply a delay after it was scheduled (the scheduler's own, or one given
// with the reply), on a thread of its own, so that a slow answer never blocks the executor that
// received the request. Replies run in the order they fall due; those due at the same time in
// the order they were scheduled. A reply without delay runs at once on the scheduling thread.
// Once stopped it runs no reply. Schedule and Stop may be called from any threads at once.
class ReplyScheduler {
 public:
  explicit ReplyScheduler(std::chrono::milliseconds delay);
  ~ReplyScheduler();
  ReplyScheduler(const ReplyScheduler&) = delete;
  ReplyScheduler& operator=(const ReplyScheduler&) = delete;

  // False, and the reply is not run, once Stop() has begun.
  bool Schedule(std::function<void()> reply);  // after the scheduler's delay
  bool Schedule(std::function<void()> reply, std::chrono::milliseconds delay);
  // Stops the thread and drops the replies not yet due; returns how many were dropped. A reply
  // that is running already, on the thread or on a scheduling thread, may still be running.
  std::size_t Stop();

 private:
  using Clock = std::chrono::steady_clock;

  void RunDueReplies();

  const std::chrono::milliseconds delay_;
  std::mutex mutex_;
  std::condition_variable wake_;
  // By when each is due; among equal times, in the order scheduled.
  std::multimap<Clock::time_point, std::function<void()>> pending_;
  bool stopping_ = false;
  std::thread worker_;  // started with the first delayed reply
};

}  // namespace kestrava_arm::host
