#include "platform/dispatch/DispatchWorkItem.h"

namespace platform::dispatch {

void DispatchWorkItem::perform() {
  std::function<void()> block;
  {
    std::lock_guard lock(mutex_);
    if (cancelled_) {
      return;
    }
    block = std::move(block_);
    block_ = nullptr;
  }
  if (block) {
    block();
  }
}

void DispatchWorkItem::cancel() {
  std::function<void()> released;
  {
    std::lock_guard lock(mutex_);
    cancelled_ = true;
    released = std::move(block_);
    block_ = nullptr;
  }
  // `released` is destroyed here, outside the lock: its captures may run arbitrary destructors.
}

bool DispatchWorkItem::isCancelled() const {
  std::lock_guard lock(mutex_);
  return cancelled_;
}

} // namespace platform::dispatch
