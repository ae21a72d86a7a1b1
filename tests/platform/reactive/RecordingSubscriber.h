#pragma once

#include "platform/reactive/Subscriber.h"

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace reactive_test {

using platform::reactive::Completion;
using platform::reactive::Demand;
using platform::reactive::Subscription;

// Records what a publisher delivers and asks for a chosen demand: `initial` on subscription
// and `perValue` after each value. Tests drive further requests through request().
template <class T> class RecordingSubscriber : public platform::reactive::Subscriber<T> {
public:
  explicit RecordingSubscriber(Demand initial = Demand::unlimited(),
                               Demand perValue = Demand::none())
      : initial_(initial), perValue_(perValue) {}

  void receiveSubscription(std::shared_ptr<Subscription> subscription) override {
    {
      std::lock_guard lock(mutex_);
      subscription_ = subscription;
      ++subscriptions_;
    }
    if (!initial_.isNone()) {
      subscription->request(initial_);
    }
  }
  Demand receiveValue(T value) override {
    std::lock_guard lock(mutex_);
    values_.push_back(std::move(value));
    return perValue_;
  }
  void receiveCompletion(Completion completion) override {
    std::lock_guard lock(mutex_);
    completion_ = completion;
    ++completions_;
    subscription_.reset();
  }

  void request(Demand demand) { subscription()->request(demand); }
  void cancel() {
    if (auto held = subscription()) {
      held->cancel();
    }
    std::lock_guard lock(mutex_);
    subscription_.reset();
  }

  std::shared_ptr<Subscription> subscription() {
    std::lock_guard lock(mutex_);
    return subscription_;
  }
  std::vector<T> values() {
    std::lock_guard lock(mutex_);
    return values_;
  }
  bool finished() {
    std::lock_guard lock(mutex_);
    return completion_ && completion_->isFinished();
  }
  bool failed() {
    std::lock_guard lock(mutex_);
    return completion_ && completion_->isFailure();
  }
  int completions() {
    std::lock_guard lock(mutex_);
    return completions_;
  }
  int subscriptions() {
    std::lock_guard lock(mutex_);
    return subscriptions_;
  }
  // The failure's message (what() of a std::exception), or "" when not failed.
  std::string failureMessage() {
    std::lock_guard lock(mutex_);
    if (!completion_ || !completion_->isFailure()) {
      return "";
    }
    try {
      std::rethrow_exception(completion_->error());
    } catch (const std::exception& error) {
      return error.what();
    } catch (...) {
      return "?";
    }
  }

private:
  const Demand initial_;
  const Demand perValue_;
  std::mutex mutex_;
  std::shared_ptr<Subscription> subscription_;
  std::vector<T> values_;
  std::optional<Completion> completion_;
  int completions_ = 0;
  int subscriptions_ = 0;
};

// Owns a recording subscriber for a test and cancels it at the end of the test: a subscriber
// and its subscription hold each other until the stream is cancelled or completes.
template <class T> class Recorder {
public:
  Recorder(Demand initial, Demand perValue)
      : subscriber_(std::make_shared<RecordingSubscriber<T>>(initial, perValue)) {}
  Recorder(const Recorder&) = delete;
  Recorder& operator=(const Recorder&) = delete;
  ~Recorder() { subscriber_->cancel(); }

  RecordingSubscriber<T>* operator->() const { return subscriber_.get(); }
  operator std::shared_ptr<platform::reactive::Subscriber<T>>() const { return subscriber_; }

private:
  std::shared_ptr<RecordingSubscriber<T>> subscriber_;
};

template <class T>
Recorder<T> record(Demand initial = Demand::unlimited(), Demand perValue = Demand::none()) {
  return Recorder<T>(initial, perValue);
}

} // namespace reactive_test
