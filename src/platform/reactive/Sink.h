#pragma once

#include "platform/reactive/Cancellable.h"
#include "platform/reactive/Subscriber.h"

#include <functional>
#include <memory>
#include <mutex>

namespace platform::reactive {

// The end of a pipeline: asks for everything and calls its handlers. Cancelling it (usually
// through the AnyCancellable that sink() returns) cancels upstream and releases the handlers
// at once; no handler is called for an event that arrives after the cancel.
template <class T> class Sink final : public Subscriber<T>, public Cancellable {
public:
  using ValueHandler = std::function<void(T)>;
  using CompletionHandler = std::function<void(const Completion&)>;

  Sink(CompletionHandler receiveCompletion, ValueHandler receiveValue)
      : handlers_(std::make_shared<const Handlers>(
            Handlers{std::move(receiveCompletion), std::move(receiveValue)})) {}

  void receiveSubscription(std::shared_ptr<Subscription> subscription) override {
    bool accepted;
    {
      std::lock_guard lock(mutex_);
      accepted = handlers_ && !subscription_;
      if (accepted) {
        subscription_ = subscription;
      }
    }
    if (!accepted) {
      subscription->cancel();
      return;
    }
    subscription->request(Demand::unlimited());
  }

  Demand receiveValue(T value) override {
    std::shared_ptr<const Handlers> handlers;
    {
      std::lock_guard lock(mutex_);
      handlers = handlers_;
    }
    if (handlers && handlers->receiveValue) {
      handlers->receiveValue(std::move(value));
    }
    return Demand::none();
  }

  void receiveCompletion(Completion completion) override {
    std::shared_ptr<const Handlers> handlers;
    std::shared_ptr<Subscription> subscription;
    {
      std::lock_guard lock(mutex_);
      handlers = std::move(handlers_);
      subscription = std::move(subscription_);
    }
    if (handlers && handlers->receiveCompletion) {
      handlers->receiveCompletion(completion);
    }
  }

  void cancel() override {
    std::shared_ptr<const Handlers> handlers;
    std::shared_ptr<Subscription> subscription;
    {
      std::lock_guard lock(mutex_);
      handlers = std::move(handlers_);
      subscription = std::move(subscription_);
    }
    if (subscription) {
      subscription->cancel();
    }
  }

private:
  struct Handlers {
    CompletionHandler receiveCompletion;
    ValueHandler receiveValue;
  };

  std::mutex mutex_;
  std::shared_ptr<const Handlers> handlers_;
  std::shared_ptr<Subscription> subscription_;
};

} // namespace platform::reactive
