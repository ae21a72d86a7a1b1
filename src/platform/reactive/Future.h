#pragma once

#include "platform/reactive/AnyPublisher.h"

#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace platform::reactive {

namespace detail {

// The one result of a future and the subscribers waiting for it.
template <class T> class FutureState {
public:
  void resolve(std::optional<T> value, Completion completion) {
    std::vector<std::weak_ptr<EmitterSubscription<T>>> waiting;
    {
      std::lock_guard lock(mutex_);
      if (completion_) {
        return; // a future resolves once
      }
      value_ = std::move(value);
      completion_ = std::move(completion);
      waiting = std::move(waiting_);
      waiting_.clear();
    }
    for (auto& weak : waiting) {
      if (auto subscription = weak.lock()) {
        deliver(*subscription);
      }
    }
  }

  void subscribe(std::shared_ptr<Subscriber<T>> subscriber) {
    auto subscription = std::make_shared<EmitterSubscription<T>>(std::move(subscriber));
    bool resolved;
    {
      std::lock_guard lock(mutex_);
      resolved = completion_.has_value();
      if (!resolved) {
        // Held weakly: a cancelled subscriber must not wait here until the future resolves.
        std::erase_if(waiting_, [](const auto& weak) { return weak.expired(); });
        waiting_.push_back(subscription);
      }
    }
    subscription->start();
    if (resolved) {
      deliver(*subscription);
    }
  }

private:
  void deliver(EmitterSubscription<T>& subscription) {
    if (value_) {
      subscription.emitter().push(*value_);
    }
    subscription.emitter().complete(*completion_);
  }

  std::mutex mutex_;
  std::optional<T> value_;
  std::optional<Completion> completion_;
  std::vector<std::weak_ptr<EmitterSubscription<T>>> waiting_;
};

} // namespace detail

// Resolves a future: the first call wins, later ones are ignored. Callable from any thread.
template <class T> class Promise {
public:
  explicit Promise(std::shared_ptr<detail::FutureState<T>> state) : state_(std::move(state)) {}

  void succeed(T value) const { state_->resolve(std::move(value), Completion::finished()); }
  // Fails with the error (an exception pointer or any exception value).
  template <class E> void fail(E error) const {
    state_->resolve(std::nullopt, Completion::failure(toExceptionPtr(std::move(error))));
  }

private:
  std::shared_ptr<detail::FutureState<T>> state_;
};

// A one-shot publisher whose body runs at once, here, on the calling thread, and resolves the
// promise now or later. Every subscriber, before or after the resolution, gets the one value
// (once it asks) and the completion. A body that throws fails the future with that error.
template <class T> AnyPublisher<T> Future(const std::function<void(Promise<T>)>& body) {
  auto state = std::make_shared<detail::FutureState<T>>();
  Promise<T> promise(state);
  try {
    body(promise);
  } catch (...) {
    promise.fail(std::current_exception());
  }
  return AnyPublisher<T>([state](std::shared_ptr<Subscriber<T>> subscriber) {
    state->subscribe(std::move(subscriber));
  });
}

} // namespace platform::reactive
