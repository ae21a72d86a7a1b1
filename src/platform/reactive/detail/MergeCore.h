#pragma once

#include "platform/reactive/detail/Emitter.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace platform::reactive {
template <class T> class AnyPublisher;
}

namespace platform::reactive::detail {

// The meeting point of several concurrent streams (merge, flatMap): passes every value of
// every inner stream on in arrival order, fails with the first failure (cancelling the rest),
// and finishes once no more inner streams can come and all have finished. Every stream (the
// outer one too) is asked for everything as soon as it is subscribed, so the sources are
// wired and flowing before the downstream even gets its subscription; values beyond the
// downstream's demand wait in the emitter.
template <class T>
class MergeCore final : public Subscription, public std::enable_shared_from_this<MergeCore<T>> {
public:
  explicit MergeCore(std::shared_ptr<Subscriber<T>> downstream) : emitter_(std::move(downstream)) {}

  // Gives the downstream its subscription; call after subscribing the sources.
  void start() { emitter_.start(this->shared_from_this()); }

  // Subscribes one more inner stream.
  void addInner(const AnyPublisher<T>& publisher) {
    uint64_t id;
    {
      std::lock_guard lock(mutex_);
      if (terminated_) {
        return;
      }
      id = nextInnerId_++;
      ++activeInners_;
    }
    publisher.subscribe(std::make_shared<Inner>(this->shared_from_this(), id));
  }

  // The outer stream of a flatMap.
  void outerSubscribed(std::shared_ptr<Subscription> subscription) {
    adopt(subscription, [&] { outer_ = subscription; });
  }

  // No further inner stream will be added.
  void outerFinished() {
    bool done;
    {
      std::lock_guard lock(mutex_);
      outerDone_ = true;
      outer_.reset();
      done = activeInners_ == 0 && !terminated_;
    }
    if (done) {
      emitter_.complete(Completion::finished());
    }
  }

  void pushValue(T value) { emitter_.push(std::move(value)); }

  // Ends everything with a failure.
  void fail(Completion failure) {
    stopAll();
    emitter_.complete(std::move(failure));
  }

  void request(Demand demand) override { emitter_.addDemand(demand); }

  void cancel() override {
    emitter_.cancel();
    stopAll();
  }

private:
  class Inner final : public Subscriber<T> {
  public:
    Inner(std::shared_ptr<MergeCore> core, uint64_t id) : core_(std::move(core)), id_(id) {}
    void receiveSubscription(std::shared_ptr<Subscription> subscription) override {
      core_->innerSubscribed(id_, std::move(subscription));
    }
    Demand receiveValue(T value) override {
      core_->pushValue(std::move(value));
      return Demand::none();
    }
    void receiveCompletion(Completion completion) override {
      auto core = std::move(core_); // the inner is done: stop keeping the core alive
      core->innerCompleted(id_, std::move(completion));
    }

  private:
    std::shared_ptr<MergeCore> core_;
    const uint64_t id_;
  };

  void innerSubscribed(uint64_t id, std::shared_ptr<Subscription> subscription) {
    adopt(subscription, [&] { inners_[id] = subscription; });
  }

  // Keeps a newly arrived subscription (through `keep`, under the lock) and asks it for
  // everything; cancels it if the merge is already over.
  template <class Keep> void adopt(const std::shared_ptr<Subscription>& subscription, Keep keep) {
    bool over;
    {
      std::lock_guard lock(mutex_);
      over = terminated_;
      if (!over) {
        keep();
      }
    }
    if (over) {
      subscription->cancel();
    } else {
      subscription->request(Demand::unlimited());
    }
  }

  void innerCompleted(uint64_t id, Completion completion) {
    if (completion.isFailure()) {
      fail(std::move(completion));
      return;
    }
    bool done;
    std::shared_ptr<Subscription> finished;
    {
      std::lock_guard lock(mutex_);
      if (auto found = inners_.find(id); found != inners_.end()) {
        finished = std::move(found->second);
        inners_.erase(found);
      }
      --activeInners_;
      done = activeInners_ == 0 && outerDone_ && !terminated_;
    }
    if (done) {
      emitter_.complete(Completion::finished());
    }
  }

  std::vector<std::shared_ptr<Subscription>> snapshotLocked() const {
    std::vector<std::shared_ptr<Subscription>> all;
    if (outer_) {
      all.push_back(outer_);
    }
    for (const auto& [id, subscription] : inners_) {
      all.push_back(subscription);
    }
    return all;
  }

  void stopAll() {
    std::vector<std::shared_ptr<Subscription>> toCancel;
    {
      std::lock_guard lock(mutex_);
      if (terminated_) {
        return;
      }
      terminated_ = true;
      toCancel = snapshotLocked();
      inners_.clear();
      outer_.reset();
    }
    for (auto& subscription : toCancel) {
      subscription->cancel();
    }
  }

  Emitter<T> emitter_;
  std::mutex mutex_;
  std::shared_ptr<Subscription> outer_;
  std::map<uint64_t, std::shared_ptr<Subscription>> inners_;
  uint64_t nextInnerId_ = 0;
  std::size_t activeInners_ = 0;
  bool outerDone_ = false;
  bool terminated_ = false;
};

// The outer subscriber of flatMap: turns each value into an inner stream of the core.
template <class In, class T, class F> class FlatMapOuter final : public Subscriber<In> {
public:
  FlatMapOuter(std::shared_ptr<MergeCore<T>> core, F transform)
      : core_(std::move(core)), transform_(std::move(transform)) {}

  void receiveSubscription(std::shared_ptr<Subscription> subscription) override {
    core_->outerSubscribed(std::move(subscription));
  }
  Demand receiveValue(In value) override {
    std::optional<AnyPublisher<T>> inner;
    try {
      inner = transform_(std::move(value)).eraseToAnyPublisher();
    } catch (...) {
      core_->fail(Completion::failure(std::current_exception()));
      return Demand::none();
    }
    core_->addInner(*inner);
    return Demand::none();
  }
  void receiveCompletion(Completion completion) override {
    auto core = std::move(core_);
    if (completion.isFailure()) {
      core->fail(std::move(completion));
    } else {
      core->outerFinished();
    }
  }

private:
  std::shared_ptr<MergeCore<T>> core_;
  F transform_;
};

} // namespace platform::reactive::detail
