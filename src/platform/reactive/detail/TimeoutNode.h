#pragma once

#include "platform/dispatch/DispatchQueue.h"
#include "platform/reactive/detail/Emitter.h"

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>

namespace platform::reactive::detail {

// Fails the stream (or finishes it, without an error factory) when no value and no completion
// arrives within the interval, measured from the subscription and again from every value.
// The timer runs on the given queue, which is where the time-out is delivered; values and
// completions from upstream are handed on on the thread that delivers them.
template <class T>
class TimeoutNode final : public Subscriber<T>,
                          public Subscription,
                          public std::enable_shared_from_this<TimeoutNode<T>> {
public:
  using ErrorFactory = std::function<std::exception_ptr()>;

  TimeoutNode(std::shared_ptr<Subscriber<T>> downstream, std::chrono::nanoseconds interval,
              dispatch::DispatchQueue queue, ErrorFactory customError)
      : emitter_(std::move(downstream)), interval_(interval), queue_(std::move(queue)),
        customError_(std::move(customError)) {}

  void receiveSubscription(std::shared_ptr<Subscription> subscription) override {
    bool accepted;
    {
      std::lock_guard lock(mutex_);
      accepted = !ended_ && !upstream_;
      if (accepted) {
        upstream_ = subscription;
      }
    }
    if (!accepted) {
      subscription->cancel();
      return;
    }
    armTimer();
    // The downstream's first request (possibly made right here) asks upstream for everything.
    emitter_.start(this->shared_from_this());
  }

  Demand receiveValue(T value) override {
    {
      std::lock_guard lock(mutex_);
      if (ended_) {
        return Demand::none();
      }
    }
    armTimer();
    emitter_.push(std::move(value));
    return Demand::none();
  }

  void receiveCompletion(Completion completion) override {
    if (end(false)) {
      emitter_.complete(std::move(completion));
    }
  }

  void request(Demand demand) override {
    emitter_.addDemand(demand);
    std::shared_ptr<Subscription> upstream;
    {
      std::lock_guard lock(mutex_);
      if (upstreamRequested_ || ended_ || demand.isNone()) {
        return;
      }
      upstreamRequested_ = true;
      upstream = upstream_;
    }
    if (upstream) {
      upstream->request(Demand::unlimited());
    }
  }

  void cancel() override {
    emitter_.cancel();
    end(true);
  }

private:
  // Replaces the pending timer with one due a full interval from now.
  void armTimer() {
    std::weak_ptr<TimeoutNode> weakSelf = this->shared_from_this();
    auto timer = std::make_shared<dispatch::DispatchWorkItem>([weakSelf] {
      if (auto self = weakSelf.lock()) {
        self->expire();
      }
    });
    std::shared_ptr<dispatch::DispatchWorkItem> previous;
    {
      std::lock_guard lock(mutex_);
      if (ended_) {
        return;
      }
      previous = std::exchange(timer_, timer);
    }
    if (previous) {
      previous->cancel();
    }
    queue_.asyncAfter(interval_, timer);
  }

  void expire() {
    if (!end(true)) {
      return;
    }
    std::exception_ptr error;
    if (customError_) {
      try {
        error = customError_();
      } catch (...) {
        error = std::current_exception();
      }
    }
    emitter_.complete(error ? Completion::failure(error) : Completion::finished());
  }

  // Marks the stream over, stops the timer and lets go of upstream (cancelling it if asked).
  // False when it was already over.
  bool end(bool cancelUpstream) {
    std::shared_ptr<Subscription> upstream;
    std::shared_ptr<dispatch::DispatchWorkItem> timer;
    {
      std::lock_guard lock(mutex_);
      if (ended_) {
        return false;
      }
      ended_ = true;
      upstream = std::move(upstream_);
      timer = std::move(timer_);
    }
    if (timer) {
      timer->cancel();
    }
    if (upstream && cancelUpstream) {
      upstream->cancel();
    }
    return true;
  }

  Emitter<T> emitter_;
  const std::chrono::nanoseconds interval_;
  const dispatch::DispatchQueue queue_;
  const ErrorFactory customError_;
  std::mutex mutex_;
  std::shared_ptr<Subscription> upstream_;
  std::shared_ptr<dispatch::DispatchWorkItem> timer_;
  bool upstreamRequested_ = false;
  bool ended_ = false;
};

} // namespace platform::reactive::detail
