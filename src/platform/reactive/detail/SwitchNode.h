#pragma once

#include "platform/reactive/Subscriber.h"

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

namespace platform::reactive {
template <class T> class AnyPublisher;
}

namespace platform::reactive::detail {

// Runs a series of upstreams one after the other for one downstream (catch, append). When the
// current upstream completes, `next` decides from its completion which publisher continues
// the stream, or none to hand the completion on. Demand the downstream asked for and did not
// yet receive carries over to the next upstream.
template <class T>
class SwitchNode final : public Subscription, public std::enable_shared_from_this<SwitchNode<T>> {
public:
  // Gets the completion of phase N (0 for the first upstream); gives the publisher of phase N+1.
  using Next = std::function<std::optional<AnyPublisher<T>>(std::size_t, const Completion&)>;

  SwitchNode(std::shared_ptr<Subscriber<T>> downstream, Next next)
      : downstream_(std::move(downstream)), next_(std::move(next)) {}

  // Subscribes the first upstream, then gives the downstream its subscription, so that the
  // chain above is wired before the downstream (and its hooks) hear of it.
  void start(const AnyPublisher<T>& first) {
    std::shared_ptr<Subscriber<T>> downstream;
    {
      std::lock_guard lock(mutex_);
      downstream = downstream_;
    }
    subscribePhase(first, 0);
    downstream->receiveSubscription(this->shared_from_this());
    std::optional<Completion> early;
    {
      std::lock_guard lock(mutex_);
      started_ = true;
      early = std::exchange(earlyCompletion_, std::nullopt);
      if (!downstream_) {
        early.reset(); // the downstream cancelled meanwhile
      }
      if (early) {
        downstream_.reset();
      }
    }
    if (early) {
      downstream->receiveCompletion(std::move(*early));
    }
  }

  void request(Demand demand) override {
    std::shared_ptr<Subscription> upstream;
    {
      std::lock_guard lock(mutex_);
      if (!downstream_ || demand.isNone()) {
        return;
      }
      outstanding_ += demand;
      upstream = upstream_;
    }
    if (upstream) {
      upstream->request(demand);
    }
  }

  void cancel() override {
    std::shared_ptr<Subscriber<T>> downstream;
    std::shared_ptr<Subscription> upstream;
    Next next;
    {
      std::lock_guard lock(mutex_);
      downstream = std::move(downstream_);
      upstream = std::move(upstream_);
      next = std::move(next_);
    }
    if (upstream) {
      upstream->cancel();
    }
  }

private:
  class Phase final : public Subscriber<T> {
  public:
    Phase(std::shared_ptr<SwitchNode> node, std::size_t index)
        : node_(std::move(node)), index_(index) {}
    void receiveSubscription(std::shared_ptr<Subscription> subscription) override {
      node_->phaseSubscribed(index_, std::move(subscription));
    }
    Demand receiveValue(T value) override { return node_->phaseValue(index_, std::move(value)); }
    void receiveCompletion(Completion completion) override {
      auto node = std::move(node_);
      node->phaseCompleted(index_, std::move(completion));
    }

  private:
    std::shared_ptr<SwitchNode> node_;
    const std::size_t index_;
  };

  void subscribePhase(const AnyPublisher<T>& publisher, std::size_t index) {
    {
      std::lock_guard lock(mutex_);
      if (!downstream_) {
        return;
      }
      phase_ = index;
    }
    publisher.subscribe(std::make_shared<Phase>(this->shared_from_this(), index));
  }

  void phaseSubscribed(std::size_t index, std::shared_ptr<Subscription> subscription) {
    Demand outstanding;
    bool current;
    {
      std::lock_guard lock(mutex_);
      current = downstream_ && phase_ == index && !upstream_;
      if (current) {
        upstream_ = subscription;
        outstanding = outstanding_;
      }
    }
    if (!current) {
      subscription->cancel();
    } else if (!outstanding.isNone()) {
      subscription->request(outstanding);
    }
  }

  Demand phaseValue(std::size_t index, T value) {
    std::shared_ptr<Subscriber<T>> downstream;
    {
      std::lock_guard lock(mutex_);
      if (!downstream_ || phase_ != index) {
        return Demand::none();
      }
      outstanding_ -= Demand::max(1);
      downstream = downstream_;
    }
    Demand more = downstream->receiveValue(std::move(value));
    std::lock_guard lock(mutex_);
    outstanding_ += more;
    return more;
  }

  void phaseCompleted(std::size_t index, Completion completion) {
    Next next;
    {
      std::lock_guard lock(mutex_);
      if (!downstream_ || phase_ != index) {
        return;
      }
      upstream_.reset();
      next = next_;
    }
    std::optional<AnyPublisher<T>> following;
    try {
      following = next(index, completion);
    } catch (...) {
      completion = Completion::failure(std::current_exception());
    }
    if (following) {
      subscribePhase(*following, index + 1);
      return;
    }
    std::shared_ptr<Subscriber<T>> downstream;
    {
      std::lock_guard lock(mutex_);
      next_ = nullptr;
      if (!started_) {
        // Completed within start(): the downstream gets it right after its subscription.
        earlyCompletion_ = completion;
        return;
      }
      downstream = std::move(downstream_);
    }
    if (downstream) {
      downstream->receiveCompletion(std::move(completion));
    }
  }

  std::mutex mutex_;
  std::shared_ptr<Subscriber<T>> downstream_;
  std::shared_ptr<Subscription> upstream_;
  Next next_;
  Demand outstanding_;
  std::size_t phase_ = 0;
  bool started_ = false;
  std::optional<Completion> earlyCompletion_;
};

} // namespace platform::reactive::detail
