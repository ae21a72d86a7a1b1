#include "platform/dispatch/DispatchGroup.h"

#include "platform/dispatch/DispatchQueue.h"

#include <cassert>
#include <condition_variable>
#include <mutex>
#include <utility>
#include <vector>

namespace platform::dispatch {

struct DispatchGroup::State {
  std::mutex mutex;
  std::condition_variable reachedZero;
  long count = 0;
  std::vector<std::pair<DispatchQueue, std::function<void()>>> notifications;
};

DispatchGroup::DispatchGroup() : state_(std::make_shared<State>()) {}

void DispatchGroup::enter() const {
  std::lock_guard lock(state_->mutex);
  ++state_->count;
}

void DispatchGroup::leave() const {
  std::vector<std::pair<DispatchQueue, std::function<void()>>> due;
  {
    std::lock_guard lock(state_->mutex);
    assert(state_->count > 0 && "DispatchGroup left more often than entered");
    if (state_->count == 0) {
      return;
    }
    if (--state_->count > 0) {
      return;
    }
    due = std::exchange(state_->notifications, {});
    state_->reachedZero.notify_all();
  }
  for (auto& [queue, block] : due) {
    queue.async(std::move(block));
  }
}

void DispatchGroup::notify(const DispatchQueue& queue, std::function<void()> block) const {
  {
    std::lock_guard lock(state_->mutex);
    if (state_->count > 0) {
      state_->notifications.emplace_back(queue, std::move(block));
      return;
    }
  }
  queue.async(std::move(block));
}

void DispatchGroup::wait() const {
  std::unique_lock lock(state_->mutex);
  state_->reachedZero.wait(lock, [this] { return state_->count == 0; });
}

bool DispatchGroup::wait(std::chrono::nanoseconds timeout) const {
  std::unique_lock lock(state_->mutex);
  return state_->reachedZero.wait_for(lock, timeout, [this] { return state_->count == 0; });
}

} // namespace platform::dispatch
