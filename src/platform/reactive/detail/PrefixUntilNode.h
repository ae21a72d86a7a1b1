#pragma once

#include "platform/reactive/detail/Emitter.h"

#include <memory>
#include <mutex>

namespace platform::reactive {
template <class T> class AnyPublisher;
}

namespace platform::reactive::detail {

// Passes upstream values on until the trigger stream emits its first value; then finishes
// and cancels both streams, synchronously within the trigger's delivery. A trigger that
// completes without a value changes nothing.
template <class T, class Trigger>
class PrefixUntilNode final : public Subscriber<T>,
                              public Subscription,
                              public std::enable_shared_from_this<PrefixUntilNode<T, Trigger>> {
public:
  explicit PrefixUntilNode(std::shared_ptr<Subscriber<T>> downstream)
      : emitter_(std::move(downstream)) {}

  // Subscribes the trigger first, so that it can stop the stream before any value passes,
  // then the upstream, and only then gives the downstream its subscription.
  void start(const AnyPublisher<Trigger>& trigger, const AnyPublisher<T>& upstream) {
    trigger.subscribe(std::make_shared<TriggerSubscriber>(this->shared_from_this()));
    upstream.subscribe(this->shared_from_this());
    emitter_.start(this->shared_from_this());
  }

  void receiveSubscription(std::shared_ptr<Subscription> subscription) override {
    bool accepted;
    bool requested;
    {
      std::lock_guard lock(mutex_);
      accepted = !ended_ && !upstream_;
      requested = upstreamRequested_;
      if (accepted) {
        upstream_ = subscription;
      }
    }
    if (!accepted) {
      subscription->cancel();
    } else if (requested) {
      subscription->request(Demand::unlimited());
    }
  }

  Demand receiveValue(T value) override {
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
  class TriggerSubscriber final : public Subscriber<Trigger> {
  public:
    explicit TriggerSubscriber(std::weak_ptr<PrefixUntilNode> node) : node_(std::move(node)) {}
    void receiveSubscription(std::shared_ptr<Subscription> subscription) override {
      auto node = node_.lock();
      if (!node || !node->adoptTrigger(subscription)) {
        subscription->cancel();
        return;
      }
      subscription->request(Demand::unlimited());
    }
    Demand receiveValue(Trigger) override {
      if (auto node = node_.lock()) {
        node->triggered();
      }
      return Demand::none();
    }
    void receiveCompletion(Completion) override {}

  private:
    std::weak_ptr<PrefixUntilNode> node_;
  };

  bool adoptTrigger(const std::shared_ptr<Subscription>& subscription) {
    std::lock_guard lock(mutex_);
    if (ended_) {
      return false;
    }
    trigger_ = subscription;
    return true;
  }

  void triggered() {
    if (end(true)) {
      emitter_.complete(Completion::finished());
    }
  }

  // Marks the stream over and lets go of both streams, cancelling the trigger always and the
  // upstream if asked. False when it was already over.
  bool end(bool cancelUpstream) {
    std::shared_ptr<Subscription> upstream;
    std::shared_ptr<Subscription> trigger;
    {
      std::lock_guard lock(mutex_);
      if (ended_) {
        return false;
      }
      ended_ = true;
      upstream = std::move(upstream_);
      trigger = std::move(trigger_);
    }
    if (trigger) {
      trigger->cancel();
    }
    if (upstream && cancelUpstream) {
      upstream->cancel();
    }
    return true;
  }

  Emitter<T> emitter_;
  std::mutex mutex_;
  std::shared_ptr<Subscription> upstream_;
  std::shared_ptr<Subscription> trigger_;
  bool upstreamRequested_ = false;
  bool ended_ = false;
};

} // namespace platform::reactive::detail
