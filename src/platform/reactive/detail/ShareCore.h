#pragma once

#include "platform/reactive/detail/Broadcast.h"

#include <memory>
#include <mutex>

namespace platform::reactive {
template <class T> class AnyPublisher;
}

namespace platform::reactive::detail {

// One run of the upstream shared by every subscriber: the first subscriber starts it, later
// ones join it (and miss what was sent before they came), and a subscriber arriving after the
// end gets the completion. When every subscriber has cancelled before the end, the run is
// cancelled and the next subscriber starts a new one.
template <class T> class ShareCore final : public std::enable_shared_from_this<ShareCore<T>> {
public:
  explicit ShareCore(AnyPublisher<T> upstream) : upstream_(std::move(upstream)) {}

  void subscribe(std::shared_ptr<Subscriber<T>> subscriber) {
    std::shared_ptr<Broadcast<T>> broadcast;
    bool startsRun = false;
    {
      std::lock_guard lock(mutex_);
      if (!broadcast_) {
        startsRun = true;
        broadcast_ = std::make_shared<Broadcast<T>>();
        std::weak_ptr<ShareCore> weakSelf = this->shared_from_this();
        std::weak_ptr<Broadcast<T>> weakBroadcast = broadcast_;
        broadcast_->setOnLastCancel([weakSelf, weakBroadcast] {
          if (auto self = weakSelf.lock()) {
            self->stopRun(weakBroadcast.lock());
          }
        });
      }
      broadcast = broadcast_;
    }
    broadcast->subscribe(std::move(subscriber));
    if (startsRun) {
      upstream_.subscribe(std::make_shared<Relay>(this->shared_from_this(), broadcast));
    }
  }

private:
  // Feeds the upstream's events into the run's broadcast.
  class Relay final : public Subscriber<T> {
  public:
    Relay(std::weak_ptr<ShareCore> core, std::shared_ptr<Broadcast<T>> broadcast)
        : core_(std::move(core)), broadcast_(std::move(broadcast)) {}
    void receiveSubscription(std::shared_ptr<Subscription> subscription) override {
      auto core = core_.lock();
      if (!core || !core->adoptUpstream(broadcast_, subscription)) {
        subscription->cancel();
        return;
      }
      subscription->request(Demand::unlimited());
    }
    Demand receiveValue(T value) override {
      broadcast_->send(value);
      return Demand::none();
    }
    void receiveCompletion(Completion completion) override {
      if (auto core = core_.lock()) {
        core->runEnded(broadcast_);
      }
      broadcast_->complete(std::move(completion));
    }

  private:
    std::weak_ptr<ShareCore> core_;
    std::shared_ptr<Broadcast<T>> broadcast_;
  };

  bool adoptUpstream(const std::shared_ptr<Broadcast<T>>& broadcast,
                     const std::shared_ptr<Subscription>& subscription) {
    std::lock_guard lock(mutex_);
    if (broadcast_ != broadcast) {
      return false; // the run was stopped before its upstream answered
    }
    upstreamSubscription_ = subscription;
    return true;
  }

  // The run's upstream has completed: keep the broadcast so late subscribers get the end.
  void runEnded(const std::shared_ptr<Broadcast<T>>& broadcast) {
    std::shared_ptr<Subscription> released;
    std::lock_guard lock(mutex_);
    if (broadcast_ == broadcast) {
      released = std::move(upstreamSubscription_);
    }
  }

  void stopRun(const std::shared_ptr<Broadcast<T>>& broadcast) {
    std::shared_ptr<Subscription> upstream;
    {
      std::lock_guard lock(mutex_);
      if (!broadcast || broadcast_ != broadcast) {
        return;
      }
      broadcast_.reset();
      upstream = std::move(upstreamSubscription_);
    }
    if (upstream) {
      upstream->cancel();
    }
  }

  const AnyPublisher<T> upstream_;
  std::mutex mutex_;
  std::shared_ptr<Broadcast<T>> broadcast_;
  std::shared_ptr<Subscription> upstreamSubscription_;
};

} // namespace platform::reactive::detail
