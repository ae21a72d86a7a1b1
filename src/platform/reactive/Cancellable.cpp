#include "platform/reactive/Cancellable.h"

#include <mutex>
#include <utility>

namespace platform::reactive {

namespace {

class ActionCancellable final : public Cancellable {
public:
  explicit ActionCancellable(std::function<void()> action) : action_(std::move(action)) {}
  void cancel() override {
    std::function<void()> action;
    {
      std::lock_guard lock(mutex_);
      action = std::exchange(action_, nullptr);
    }
    if (action) {
      action();
    }
  }

private:
  std::mutex mutex_;
  std::function<void()> action_;
};

} // namespace

AnyCancellable::AnyCancellable(std::shared_ptr<Cancellable> cancellable)
    : cancellable_(std::move(cancellable)) {}

AnyCancellable::AnyCancellable(std::function<void()> cancelAction)
    : cancellable_(std::make_shared<ActionCancellable>(std::move(cancelAction))) {}

AnyCancellable& AnyCancellable::operator=(AnyCancellable&& other) noexcept {
  if (this != &other) {
    cancel();
    cancellable_ = std::move(other.cancellable_);
  }
  return *this;
}

AnyCancellable::~AnyCancellable() {
  cancel();
}

void AnyCancellable::cancel() {
  if (auto cancellable = std::exchange(cancellable_, nullptr)) {
    cancellable->cancel();
  }
}

void AnyCancellable::store(CancellableSet& set) {
  set.insert(std::move(*this));
}

} // namespace platform::reactive
