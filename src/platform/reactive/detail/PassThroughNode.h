#pragma once

#include "platform/reactive/Subscriber.h"

#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

namespace platform::reactive::detail {

// The base of operators that sit between one upstream and one downstream and pass demand
// straight through (map, filter, scan, handleEvents, first, ...). The node is the upstream's
// subscriber and the downstream's subscription. It holds both ends until the stream ends
// (completion or cancel) and then lets go of both, so a finished or cancelled chain frees itself.
// No lock is held while calling either end.
template <class In, class Out>
class PassThroughNode : public Subscriber<In>,
                        public Subscription,
                        public std::enable_shared_from_this<PassThroughNode<In, Out>> {
public:
  explicit PassThroughNode(std::shared_ptr<Subscriber<Out>> downstream)
      : downstream_(std::move(downstream)) {}

  void receiveSubscription(std::shared_ptr<Subscription> subscription) override {
    std::shared_ptr<Subscriber<Out>> downstream;
    {
      std::lock_guard lock(mutex_);
      if (!upstream_ && downstream_) {
        upstream_ = subscription;
        downstream = downstream_;
      }
    }
    if (!downstream) {
      subscription->cancel(); // already cancelled, or a second subscription
      return;
    }
    didReceiveSubscription();
    downstream->receiveSubscription(this->shared_from_this());
  }

  Demand receiveValue(In value) override {
    auto downstream = activeDownstream();
    if (!downstream) {
      return Demand::none();
    }
    return forward(std::move(value), *downstream);
  }

  void receiveCompletion(Completion completion) override {
    std::shared_ptr<Subscriber<Out>> downstream;
    std::shared_ptr<Subscription> upstream;
    {
      std::lock_guard lock(mutex_);
      downstream = std::move(downstream_);
      upstream = std::move(upstream_);
    }
    if (downstream) {
      forwardCompletion(std::move(completion), *downstream);
    }
  }

  void request(Demand demand) override {
    didReceiveRequest(demand);
    std::shared_ptr<Subscription> upstream;
    {
      std::lock_guard lock(mutex_);
      upstream = upstream_;
    }
    if (upstream && !demand.isNone()) {
      upstream->request(upstreamDemand(demand));
    }
  }

  void cancel() override {
    std::shared_ptr<Subscriber<Out>> downstream;
    std::shared_ptr<Subscription> upstream;
    {
      std::lock_guard lock(mutex_);
      downstream = std::move(downstream_);
      upstream = std::move(upstream_);
    }
    if (!downstream) {
      return;
    }
    didCancel();
    if (upstream) {
      upstream->cancel();
    }
  }

protected:
  // Hands one upstream value on; returns the demand to add upstream.
  virtual Demand forward(In value, Subscriber<Out>& downstream) = 0;
  virtual void forwardCompletion(Completion completion, Subscriber<Out>& downstream) {
    downstream.receiveCompletion(std::move(completion));
  }
  // What to ask upstream for when the downstream asks for `demand`.
  virtual Demand upstreamDemand(Demand demand) { return demand; }
  virtual void didReceiveSubscription() {}
  virtual void didReceiveRequest(Demand) {}
  virtual void didCancel() {}

  // Lets go of both ends and cancels upstream; returns the downstream to complete, or null
  // when the stream had already ended. Used when the operator itself decides the stream is
  // over (first, prefixWhile, a throwing closure).
  std::shared_ptr<Subscriber<Out>> detach() {
    std::shared_ptr<Subscriber<Out>> downstream;
    std::shared_ptr<Subscription> upstream;
    {
      std::lock_guard lock(mutex_);
      downstream = std::move(downstream_);
      upstream = std::move(upstream_);
    }
    if (downstream && upstream) {
      upstream->cancel();
    }
    return downstream;
  }

  void endEarly(Completion completion) {
    if (auto downstream = detach()) {
      downstream->receiveCompletion(std::move(completion));
    }
  }

  // Runs a user closure; an exception ends the stream with that error and gives none.
  template <class F> auto attempt(F&& body) -> std::optional<decltype(body())> {
    try {
      return body();
    } catch (...) {
      endEarly(Completion::failure(std::current_exception()));
      return std::nullopt;
    }
  }

  // The same for a closure without result; false when it threw.
  template <class F> bool attemptAction(F&& body) {
    try {
      body();
      return true;
    } catch (...) {
      endEarly(Completion::failure(std::current_exception()));
      return false;
    }
  }

private:
  std::shared_ptr<Subscriber<Out>> activeDownstream() {
    std::lock_guard lock(mutex_);
    return downstream_;
  }

  std::mutex mutex_;
  std::shared_ptr<Subscriber<Out>> downstream_;
  std::shared_ptr<Subscription> upstream_;
};

} // namespace platform::reactive::detail
