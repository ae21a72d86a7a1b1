#pragma once

#include <functional>
#include <mutex>

namespace platform::dispatch {

// A block of work that can be cancelled before it runs. Cancelling releases the block at once,
// so whatever it captured is freed even while a timer still holds the item.
class DispatchWorkItem {
public:
  explicit DispatchWorkItem(std::function<void()> block) : block_(std::move(block)) {}
  DispatchWorkItem(const DispatchWorkItem&) = delete;
  DispatchWorkItem& operator=(const DispatchWorkItem&) = delete;

  // Runs the block unless the item was cancelled or has already run (it runs at most once).
  void perform();
  // Prevents a later perform; has no effect on a perform already under way.
  void cancel();
  bool isCancelled() const;

private:
  mutable std::mutex mutex_;
  std::function<void()> block_;
  bool cancelled_ = false;
};

} // namespace platform::dispatch
