// A thread that runs a pager's page writes behind it: the pager hands over
// finished pages and goes on filling others while the system copies them.
// Jobs run one at a time, in the order posted, so the file sees the writes
// in the order the pager made them.
//
// The first job that throws stops the rest: error() gives its number from
// then on (3043 for anything but a JetError), and later jobs are still
// run but told to skip their work, so that each can give back what it
// holds (a job gives it back also when it throws). The
// owner looks at error() before it relies on what was written, and waits
// with Drain before anything else touches the file (a sync, a rename, a
// read of a page still on its way). One owner thread posts and drains.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace jet {

class WriteBehind {
 public:
  // At most `max_queued` jobs wait at a time; Post waits for room beyond.
  explicit WriteBehind(size_t max_queued);
  // Runs what is queued, then ends the thread.
  ~WriteBehind();
  WriteBehind(const WriteBehind&) = delete;
  WriteBehind& operator=(const WriteBehind&) = delete;

  // `job(skipped)`: skipped is true once an earlier job has failed.
  void Post(std::function<void(bool skipped)> job);
  // Returns once every job posted so far has run.
  void Drain();
  // The error number of the job that failed, 0 while none has.
  int error() const { return error_.load(std::memory_order_acquire); }

 private:
  void Run();

  const size_t max_queued_;
  std::mutex mu_;
  std::condition_variable cv_;
  std::deque<std::function<void(bool)>> queue_;
  bool busy_ = false;  // a job taken from the queue is running
  bool stop_ = false;
  std::atomic<int> error_{0};
  std::thread thread_;
};

}  // namespace jet
