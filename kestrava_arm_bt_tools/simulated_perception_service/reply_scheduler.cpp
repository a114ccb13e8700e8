#include "kestrava_arm_host/reply_scheduler.hpp"

namespace kestrava_arm::host {

ReplyScheduler::ReplyScheduler(std::chrono::milliseconds delay) : delay_(delay) {
  if (delay_.count() > 0) {
    worker_ = std::thread([this] { RunDueReplies(); });
  }
}

ReplyScheduler::~ReplyScheduler() {
  Stop();
}

bool ReplyScheduler::Schedule(std::function<void()> reply) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (stopping_) {
    return false;
  }
  if (delay_.count() == 0) {
    lock.unlock();
    reply();
    return true;
  }
  pending_.emplace_back(Clock::now() + delay_, std::move(reply));
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
    // The delay is the same for all, so the oldest reply is always the next one due.
    if (stopping_ || wake_.wait_until(lock, pending_.front().first, [this] { return stopping_; })) {
      return;
    }
    auto reply = std::move(pending_.front().second);
    pending_.pop_front();
    lock.unlock();
    reply();
    lock.lock();
  }
}

}  // namespace kestrava_arm::host
