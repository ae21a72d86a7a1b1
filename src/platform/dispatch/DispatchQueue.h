#pragma once

#include "platform/dispatch/DispatchWorkItem.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace platform::dispatch {

namespace detail {
class QueueCore;
}
class DispatchGroup;

// A handle to a queue of blocks. Copies name the same queue; a queue lives while a handle or a
// pending block refers to it. Blocks must not throw (an escaping exception ends the process).
class DispatchQueue {
public:
  // A new serial queue: its blocks run one at a time, in submission order, on pool threads.
  explicit DispatchQueue(std::string label);

  // The queue served by the main thread once it calls dispatchMain(); label "main".
  static DispatchQueue main();
  // The concurrent queue over the shared, bounded thread pool; label "global".
  static DispatchQueue global();

  const std::string& label() const;

  void async(std::function<void()> block) const;
  // Enters the group now and leaves it when the block has run.
  void async(const DispatchGroup& group, std::function<void()> block) const;
  // Runs the block on this queue after the delay; the returned item cancels it.
  std::shared_ptr<DispatchWorkItem> asyncAfter(std::chrono::nanoseconds delay,
                                               std::function<void()> block) const;
  void asyncAfter(std::chrono::nanoseconds delay, std::shared_ptr<DispatchWorkItem> item) const;
  // Runs the block on this queue and waits for it; an exception it throws is rethrown here.
  // Called from a block of this same queue, it runs the block in place instead of deadlocking.
  void sync(const std::function<void()>& block) const;

  // True when the calling thread is running a block of this queue.
  bool isCurrent() const;
  // The label of the queue whose block the calling thread runs, or "" outside any queue.
  static std::string currentLabel();

  // Returns once every block submitted before the call has run. For the main queue the calling
  // thread runs the pending blocks itself; for the global queue it waits until the pool is idle.
  void drainForTest() const;

  bool operator==(const DispatchQueue& other) const { return core_ == other.core_; }

private:
  explicit DispatchQueue(std::shared_ptr<detail::QueueCore> core) : core_(std::move(core)) {}
  std::shared_ptr<detail::QueueCore> core_;
};

} // namespace platform::dispatch
