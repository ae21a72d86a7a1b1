#include "platform/dispatch/TimerThread.h"

#include <thread>

namespace platform::dispatch {

TimerThread& TimerThread::shared() {
  // Leaked on purpose: the detached timer thread runs until the process ends.
  static TimerThread* timer = new TimerThread();
  return *timer;
}

void TimerThread::schedule(Clock::time_point deadline, std::function<void()> fire) {
  std::lock_guard lock(mutex_);
  entries_.push(Entry{deadline, nextSequence_++, std::move(fire)});
  if (!started_) {
    started_ = true;
    std::thread([this] { run(); }).detach();
  }
  changed_.notify_one();
}

void TimerThread::run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    if (entries_.empty()) {
      changed_.wait(lock);
      continue;
    }
    auto deadline = entries_.top().deadline;
    if (Clock::now() < deadline) {
      changed_.wait_until(lock, deadline);
      continue;
    }
    auto fire = std::move(const_cast<Entry&>(entries_.top()).fire);
    entries_.pop();
    lock.unlock();
    fire();
    fire = nullptr;
    lock.lock();
  }
}

} // namespace platform::dispatch
