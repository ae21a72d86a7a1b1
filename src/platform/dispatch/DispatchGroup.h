#pragma once

#include <chrono>
#include <functional>
#include <memory>

namespace platform::dispatch {

class DispatchQueue;

// Counts outstanding work. Copies share the same count. When the count drops to zero, every
// waiter wakes and every pending notification block is submitted to its queue.
class DispatchGroup {
public:
  DispatchGroup();

  void enter() const;
  // Leaving more often than entering is a programming error; the count stays at zero.
  void leave() const;
  // Submits the block to the queue once the count is zero (at once if it is zero now).
  void notify(const DispatchQueue& queue, std::function<void()> block) const;
  // Blocks until the count is zero.
  void wait() const;
  // Blocks until the count is zero or the time-out passes; false on time-out.
  bool wait(std::chrono::nanoseconds timeout) const;

private:
  struct State;
  std::shared_ptr<State> state_;
};

} // namespace platform::dispatch
