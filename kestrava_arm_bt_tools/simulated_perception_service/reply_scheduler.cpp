#include "kestrava_arm_host/reply_scheduler.hpp"

namespace kestrava_arm::host {

ReplyScheduler::ReplyScheduler(std::chrono::milliseconds delay) : delay_(delay) {}

ReplyScheduler::~ReplyScheduler() {
  Stop();
}

bool ReplyScheduler::Schedule(std::function<void()> reply) {
  return Schedule(std::move(reply), delay_);
}

bool ReplyScheduler::Schedule(std::function<void()> reply, std::chrono::milliseconds delay) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (stopping_) {
    return false;
  }
  if (delay.count() <= 0) {
    lock.unlock();
    reply();
    return true;
  }
  if (!worker_.joinable()) {
    worker_ = std::thread([this] { RunDueReplies(); });
  }
  pending_.emplace(Clock::now() + delay, std::move(reply));
  lock.unlock();
  wake_.notify_one();
  return true;
}

std::size_t ReplyScheduler::Stop() {
  std::thread worker;
  {
    // Taken out under the lock, so that two Stops cannot both join it.
    const std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    worker = std::move(worker_);
  }
  wake_.notify_one();
  if (worker.joinable()) {
    worker.join();
  }
  const std::lock_guard<std::mutex> lock(mutex_);
  const std::size_t dropped = pending_.size();
  pending_.clear();
  return dropped;
}

void ReplyScheduler::RunDueReplies() {
  std::unique_lock<std::mutex> lock(mutex_);
  const auto stop_or_new_reply = [this] { return stopping_ || !pending_.empty(); };
  while (true) {
    wake_.wait(lock, stop_or_new_reply);
    if (stopping_) {
      return;
    }
    // A reply scheduled meanwhile may fall due before the one waited for: woken by it, the
    // wait starts over with the first one due.
    const Clock::time_point due = pending_.begin()->first;
    const std::size_t waiting = pending_.size();
    const bool woken = wake_.wait_until(
        lock, due, [this, waiting] { return stopping_ || pending_.size() != waiting; });
    if (stopping_) {
      return;
    }
    if (woken) {
      continue;
    }
    auto reply = std::move(pending_.begin()->second);
    pending_.erase(pending_.begin());
    lock.unlock();
    reply();
    lock.lock();
  }
}

}  // namespace kestrava_arm::host
