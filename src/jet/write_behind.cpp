#include "jet/write_behind.h"

#include <utility>

#include "jet/error.h"

namespace jet {

WriteBehind::WriteBehind(size_t max_queued)
    : max_queued_(max_queued == 0 ? 1 : max_queued), thread_([this] { Run(); }) {}

WriteBehind::~WriteBehind() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    stop_ = true;
  }
  cv_.notify_all();
  thread_.join();
}

void WriteBehind::Post(std::function<void(bool)> job) {
  {
    std::unique_lock<std::mutex> lock(mu_);
    cv_.wait(lock, [&] { return queue_.size() < max_queued_; });
    queue_.push_back(std::move(job));
  }
  cv_.notify_all();
}

void WriteBehind::Drain() {
  std::unique_lock<std::mutex> lock(mu_);
  cv_.wait(lock, [&] { return queue_.empty() && !busy_; });
}

void WriteBehind::Run() {
  std::unique_lock<std::mutex> lock(mu_);
  for (;;) {
    cv_.wait(lock, [&] { return stop_ || !queue_.empty(); });
    if (queue_.empty()) return;
    std::function<void(bool)> job = std::move(queue_.front());
    queue_.pop_front();
    busy_ = true;
    lock.unlock();
    cv_.notify_all();
    const bool skipped = error() != 0;
    try {
      job(skipped);
    } catch (const JetError& e) {
      error_.store(e.number(), std::memory_order_release);
    } catch (...) {
      error_.store(kErrDiskIo, std::memory_order_release);
    }
    lock.lock();
    busy_ = false;
    cv_.notify_all();
  }
}

}  // namespace jet
