#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>

namespace platform::dispatch {

// A bounded pool of worker threads that run jobs in submission order. A thread starts only when
// a job finds no idle thread, never beyond the bound, and retires after staying idle for the idle
// time-out, so an idle process keeps no workers. Jobs beyond the bound wait for a free thread.
class ThreadPool {
public:
  static constexpr std::size_t kDefaultMaximumThreads = 64;
  static constexpr std::chrono::milliseconds kDefaultIdleTimeout{5000};

  explicit ThreadPool(std::size_t maximumThreads = kDefaultMaximumThreads,
                      std::chrono::milliseconds idleTimeout = kDefaultIdleTimeout);
  // Workers are detached; a pool must outlive them, so the shared pool is never destroyed.
  ~ThreadPool() = default;
  ThreadPool(const ThreadPool&) = delete;
  ThreadPool& operator=(const ThreadPool&) = delete;

  // The process-wide pool behind the global queue and every serial queue.
  static ThreadPool& shared();

  void submit(std::function<void()> job);

  std::size_t threadCountForTest() const;
  void setIdleTimeoutForTest(std::chrono::milliseconds idleTimeout);
  // Blocks until no job is queued or running.
  void waitUntilIdleForTest() const;

private:
  void runWorker();

  const std::size_t maximumThreads_;
  mutable std::mutex mutex_;
  std::condition_variable jobsAvailable_;
  mutable std::condition_variable becameIdle_;
  std::deque<std::function<void()>> jobs_;
  std::chrono::milliseconds idleTimeout_;
  std::size_t threads_ = 0;
  std::size_t idleThreads_ = 0;
  std::size_t runningJobs_ = 0;
};

} // namespace platform::dispatch
