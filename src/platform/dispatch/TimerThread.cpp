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
  // The timer thread sleeps until the earliest deadline; only a new earliest one must wake it.
  // Time-outs are armed for every request and are mostly later than one already waiting, so
  // this spares a thread switch per request.
  const bool earliest = entries_.empty() || deadline < entries_.top().deadline;
  entries_.push(Entry{deadline, nextSequence_++, std::move(fire)});
  if (!started_) {
    started_ = true;
    std::thread([this] { run(); }).detach();
  }
  if (earliest) {
    changed_.notify_one();
  }
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
