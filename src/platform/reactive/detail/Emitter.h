#pragma once

#include "platform/reactive/Subscriber.h"

#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

namespace platform::reactive::detail {

// The downstream side of a source that may be fed from several threads at once (subjects,
// futures, merges, time-outs). It serialises every call to the subscriber, hands out values
// only within the subscriber's demand, and never holds its lock while calling the subscriber:
// whoever finds the emitter busy leaves its event in the queue, and the thread that is already
// delivering hands it on before it returns. So a subscriber may request or cancel from inside a
// delivery, and calls to it never overlap.
template <class T> class Emitter {
public:
  explicit Emitter(std::shared_ptr<Subscriber<T>> downstream)
      : downstream_(std::move(downstream)) {}
  Emitter(const Emitter&) = delete;
  Emitter& operator=(const Emitter&) = delete;

  // Gives the subscriber its subscription; nothing reaches it before this.
  void start(std::shared_ptr<Subscription> subscription) {
    std::unique_lock lock(mutex_);
    if (!downstream_) {
      return;
    }
    pendingSubscription_ = std::move(subscription);
    drain(lock);
  }

  // Queues a value; it is delivered once the subscriber has demand for it.
  void push(T value) {
    std::unique_lock lock(mutex_);
    if (isTerminatedLocked()) {
      return;
    }
    buffer_.push_back(std::move(value));
    drain(lock);
  }

  // Delivers the value only if the subscriber has demand left for it; otherwise drops it.
  bool offer(T value) {
    std::unique_lock lock(mutex_);
    if (isTerminatedLocked() || !hasUnclaimedDemandLocked()) {
      return false;
    }
    buffer_.push_back(std::move(value));
    drain(lock);
    return true;
  }

  // Like offer, but without demand the value replaces the one waiting last, so that the
  // subscriber gets the latest value when it asks.
  void pushReplacingLatest(T value) {
    std::unique_lock lock(mutex_);
    if (isTerminatedLocked()) {
      return;
    }
    if (!hasUnclaimedDemandLocked() && !buffer_.empty()) {
      std::swap(buffer_.back(), value);
    } else {
      buffer_.push_back(std::move(value));
    }
    drain(lock);
    lock.unlock(); // the replaced value is destroyed outside the lock
  }

  // Ends the stream. Finishing waits behind the queued values; a failure goes out as soon as
  // the values that have demand are delivered and drops the rest. Only the first call counts.
  void complete(Completion completion) {
    std::unique_lock lock(mutex_);
    if (isTerminatedLocked()) {
      return;
    }
    completion_ = std::move(completion);
    drain(lock);
  }

  void addDemand(Demand demand) {
    std::unique_lock lock(mutex_);
    if (!downstream_ || demand.isNone()) {
      return;
    }
    demand_ += demand;
    drain(lock);
  }

  // Drops the subscriber and everything queued; nothing is delivered after this returns
  // (unless a delivery is already under way on another thread).
  void cancel() {
    std::shared_ptr<Subscriber<T>> downstream;
    std::shared_ptr<Subscription> subscription;
    std::deque<T> dropped;
    {
      std::lock_guard lock(mutex_);
      downstream = std::move(downstream_);
      subscription = std::move(pendingSubscription_);
      dropped = std::move(buffer_);
      buffer_.clear();
    }
  }

  // True once a completion was recorded or the subscriber cancelled.
  bool isTerminated() const {
    std::lock_guard lock(mutex_);
    return isTerminatedLocked();
  }

private:
  bool isTerminatedLocked() const { return !downstream_ || completion_.has_value(); }
  bool hasUnclaimedDemandLocked() const { return demand_ > Demand::max(buffer_.size()); }

  void drain(std::unique_lock<std::mutex>& lock) {
    if (draining_) {
      return; // the delivering thread picks the new event up before it leaves
    }
    draining_ = true;
    try {
      deliverPending(lock);
    } catch (...) {
      if (!lock.owns_lock()) {
        lock.lock();
      }
      draining_ = false;
      throw;
    }
    draining_ = false;
  }

  void deliverPending(std::unique_lock<std::mutex>& lock) {
    while (downstream_) {
      if (pendingSubscription_) {
        auto subscription = std::move(pendingSubscription_);
        auto downstream = downstream_;
        lock.unlock();
        downstream->receiveSubscription(std::move(subscription));
        downstream.reset();
        lock.lock();
        started_ = true;
        continue;
      }
      if (!started_) {
        return;
      }
      if (!buffer_.empty() && !demand_.isNone()) {
        T value = std::move(buffer_.front());
        buffer_.pop_front();
        demand_ -= Demand::max(1);
        auto downstream = downstream_;
        lock.unlock();
        Demand more = downstream->receiveValue(std::move(value));
        downstream.reset();
        lock.lock();
        if (downstream_) {
          demand_ += more;
        }
        continue;
      }
      if (completion_ && (buffer_.empty() || completion_->isFailure())) {
        auto downstream = std::move(downstream_);
        auto dropped = std::move(buffer_);
        buffer_.clear();
        auto completion = *completion_;
        lock.unlock();
        dropped.clear();
        downstream->receiveCompletion(std::move(completion));
        downstream.reset();
        lock.lock();
        return;
      }
      return;
    }
  }

  mutable std::mutex mutex_;
  std::shared_ptr<Subscriber<T>> downstream_;
  std::shared_ptr<Subscription> pendingSubscription_;
  std::deque<T> buffer_;
  std::optional<Completion> completion_;
  Demand demand_;
  bool started_ = false;
  bool draining_ = false;
};

// A subscription whose only job is to feed one subscriber through an emitter: what Just,
// Empty, Fail, Future and the subjects hand out. The cancel action runs once, on cancel.
template <class T>
class EmitterSubscription final : public Subscription,
                                  public std::enable_shared_from_this<EmitterSubscription<T>> {
public:
  explicit EmitterSubscription(std::shared_ptr<Subscriber<T>> downstream,
                               std::function<void(EmitterSubscription*)> onCancel = nullptr)
      : emitter_(std::move(downstream)), onCancel_(std::move(onCancel)) {}

  Emitter<T>& emitter() { return emitter_; }
  void start() { emitter_.start(this->shared_from_this()); }

  void request(Demand demand) override { emitter_.addDemand(demand); }
  void cancel() override {
    emitter_.cancel();
    std::function<void(EmitterSubscription*)> onCancel;
    {
      std::lock_guard lock(mutex_);
      onCancel = std::exchange(onCancel_, nullptr);
    }
    if (onCancel) {
      onCancel(this);
    }
  }

private:
  Emitter<T> emitter_;
  std::mutex mutex_;
  std::function<void(EmitterSubscription*)> onCancel_;
};

} // namespace platform::reactive::detail
