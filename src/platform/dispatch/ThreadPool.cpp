#include "platform/dispatch/ThreadPool.h"

#include <thread>

namespace platform::dispatch {

ThreadPool::ThreadPool(std::size_t maximumThreads, std::chrono::milliseconds idleTimeout)
    : maximumThreads_(maximumThreads == 0 ? 1 : maximumThreads), idleTimeout_(idleTimeout) {}

ThreadPool& ThreadPool::shared() {
  // Leaked on purpose: detached workers may still run while static objects are destroyed.
  static ThreadPool* pool = new ThreadPool();
  return *pool;
}

void ThreadPool::submit(std::function<void()> job) {
  std::unique_lock lock(mutex_);
  jobs_.push_back(std::move(job));
  if (idleThreads_ >= jobs_.size()) {
    jobsAvailable_.notify_one();
    return;
  }
  if (threads_ >= maximumThreads_) {
    jobsAvailable_.notify_one();
    return;
  }
  ++threads_;
  lock.unlock();
  std::thread([this] { runWorker(); }).detach();
}

void ThreadPool::runWorker() {
  std::unique_lock lock(mutex_);
  for (;;) {
    if (jobs_.empty()) {
      ++idleThreads_;
      bool hasWork = jobsAvailable_.wait_for(lock, idleTimeout_, [this] { return !jobs_.empty(); });
      --idleThreads_;
      if (!hasWork) {
        --threads_;
        becameIdle_.notify_all();
        return;
      }
    }
    auto job = std::move(jobs_.front());
    jobs_.pop_front();
    ++runningJobs_;
    lock.unlock();
    job();
    job = nullptr; // release the job's captures before taking the lock again
    lock.lock();
    --runningJobs_;
    if (jobs_.empty() && runningJobs_ == 0) {
      becameIdle_.notify_all();
    }
  }
}

std::size_t ThreadPool::threadCountForTest() const {
  std::lock_guard lock(mutex_);
  return threads_;
}

void ThreadPool::setIdleTimeoutForTest(std::chrono::milliseconds idleTimeout) {
  std::lock_guard lock(mutex_);
  idleTimeout_ = idleTimeout;
  jobsAvailable_.notify_all();
}

void ThreadPool::waitUntilIdleForTest() const {
  std::unique_lock lock(mutex_);
  becameIdle_.wait(lock, [this] { return jobs_.empty() && runningJobs_ == 0; });
}

} // namespace platform::dispatch
