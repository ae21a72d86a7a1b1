#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <queue>
#include <vector>

namespace platform::dispatch {

// One thread that fires deadlines in order. It sleeps on a condition variable until the earliest
// deadline (no polling). A fire action must be short: it only hands work to a queue.
class TimerThread {
public:
  using Clock = std::chrono::steady_clock;

  static TimerThread& shared();

  void schedule(Clock::time_point deadline, std::function<void()> fire);

private:
  TimerThread() = default;
  void run();

  struct Entry {
    Clock::time_point deadline;
    uint64_t sequence; // keeps equal deadlines in scheduling order
    std::function<void()> fire;
    bool operator>(const Entry& other) const {
      return deadline != other.deadline ? deadline > other.deadline : sequence > other.sequence;
    }
  };

  std::mutex mutex_;
  std::condition_variable changed_;
  std::priority_queue<Entry, std::vector<Entry>, std::greater<>> entries_;
  uint64_t nextSequence_ = 0;
  bool started_ = false;
};

} // namespace platform::dispatch
