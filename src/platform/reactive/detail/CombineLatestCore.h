#pragma once

#include "platform/reactive/detail/Emitter.h"

#include <memory>
#include <mutex>
#include <optional>
#include <utility>

namespace platform::reactive {
template <class T> class AnyPublisher;
}

namespace platform::reactive::detail {

// Pairs the latest values of two streams: once both have produced a value, every new value of
// either emits the pair of the latest two. Finishes when both have finished, or when one
// finishes without ever producing a value (no pair can come then); the first failure fails
// the stream and cancels the other side. Both sides are asked for everything once the
// downstream asks for anything.
template <class A, class B>
class CombineLatestCore final : public Subscription,
                                public std::enable_shared_from_this<CombineLatestCore<A, B>> {
public:
  using Pair = std::pair<A, B>;

  explicit CombineLatestCore(std::shared_ptr<Subscriber<Pair>> downstream)
      : emitter_(std::move(downstream)) {}

  void start(const AnyPublisher<A>& first, const AnyPublisher<B>& second) {
    first.subscribe(std::make_shared<Side<A, 0>>(this->shared_from_this()));
    second.subscribe(std::make_shared<Side<B, 1>>(this->shared_from_this()));
    emitter_.start(this->shared_from_this());
  }

  void request(Demand demand) override {
    emitter_.addDemand(demand);
    std::shared_ptr<Subscription> sides[2];
    {
      std::lock_guard lock(mutex_);
      if (requested_ || ended_ || demand.isNone()) {
        return;
      }
      requested_ = true;
      sides[0] = subscriptions_[0];
      sides[1] = subscriptions_[1];
    }
    for (auto& side : sides) {
      if (side) {
        side->request(Demand::unlimited());
      }
    }
  }

  void cancel() override {
    emitter_.cancel();
    end();
  }

private:
  template <class V, int Index> class Side final : public Subscriber<V> {
  public:
    explicit Side(std::shared_ptr<CombineLatestCore> core) : core_(std::move(core)) {}
    void receiveSubscription(std::shared_ptr<Subscription> subscription) override {
      core_->sideSubscribed(Index, std::move(subscription));
    }
    Demand receiveValue(V value) override {
      core_->template sideValue<Index>(std::move(value));
      return Demand::none();
    }
    void receiveCompletion(Completion completion) override {
      auto core = std::move(core_);
      core->sideCompleted(Index, std::move(completion));
    }

  private:
    std::shared_ptr<CombineLatestCore> core_;
  };

  void sideSubscribed(int index, std::shared_ptr<Subscription> subscription) {
    bool over;
    bool requested;
    {
      std::lock_guard lock(mutex_);
      over = ended_;
      requested = requested_;
      if (!over) {
        subscriptions_[index] = subscription;
      }
    }
    if (over) {
      subscription->cancel();
    } else if (requested) {
      subscription->request(Demand::unlimited());
    }
  }

  template <int Index, class V> void sideValue(V value) {
    std::optional<Pair> pair;
    {
      std::lock_guard lock(mutex_);
      if (ended_) {
        return;
      }
      if constexpr (Index == 0) {
        first_ = std::move(value);
      } else {
        second_ = std::move(value);
      }
      if (first_ && second_) {
        pair.emplace(*first_, *second_);
      }
    }
    if (pair) {
      emitter_.push(std::move(*pair));
    }
  }

  void sideCompleted(int index, Completion completion) {
    bool finish;
    {
      std::lock_guard lock(mutex_);
      if (ended_) {
        return;
      }
      finished_[index] = true;
      subscriptions_[index].reset();
      bool produced = index == 0 ? first_.has_value() : second_.has_value();
      finish = completion.isFailure() || !produced || (finished_[0] && finished_[1]);
    }
    if (finish) {
      end();
      emitter_.complete(std::move(completion));
    }
  }

  // Marks the stream over and cancels whatever side is still running.
  void end() {
    std::shared_ptr<Subscription> sides[2];
    {
      std::lock_guard lock(mutex_);
      if (ended_) {
        return;
      }
      ended_ = true;
      sides[0] = std::move(subscriptions_[0]);
      sides[1] = std::move(subscriptions_[1]);
    }
    for (auto& side : sides) {
      if (side) {
        side->cancel();
      }
    }
  }

  Emitter<Pair> emitter_;
  std::mutex mutex_;
  std::shared_ptr<Subscription> subscriptions_[2];
  std::optional<A> first_;
  std::optional<B> second_;
  bool finished_[2] = {false, false};
  bool requested_ = false;
  bool ended_ = false;
};

} // namespace platform::reactive::detail
