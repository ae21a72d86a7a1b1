#pragma once

#include "platform/reactive/detail/PassThroughNode.h"

namespace platform::reactive::detail {

// Passes on the first value that satisfies the predicate, then finishes and cancels upstream.
// Asks upstream for everything as soon as the downstream asks for anything.
template <class T, class F> class FirstNode final : public PassThroughNode<T, T> {
public:
  FirstNode(std::shared_ptr<Subscriber<T>> downstream, F predicate)
      : PassThroughNode<T, T>(std::move(downstream)), predicate_(std::move(predicate)) {}

protected:
  Demand forward(T value, Subscriber<T>& downstream) override {
    auto matches = this->attempt([&] { return bool(predicate_(value)); });
    if (!matches || !*matches) {
      return Demand::none();
    }
    // End the stream before delivering, so that no second value slips through meanwhile.
    if (!this->detach()) {
      return Demand::none();
    }
    downstream.receiveValue(std::move(value));
    downstream.receiveCompletion(Completion::finished());
    return Demand::none();
  }
  Demand upstreamDemand(Demand) override { return Demand::unlimited(); }

private:
  F predicate_;
};

// Passes values on while the predicate holds; the first value that fails it finishes the
// stream (that value is not passed on) and cancels upstream.
template <class T, class F> class PrefixWhileNode final : public PassThroughNode<T, T> {
public:
  PrefixWhileNode(std::shared_ptr<Subscriber<T>> downstream, F predicate)
      : PassThroughNode<T, T>(std::move(downstream)), predicate_(std::move(predicate)) {}

protected:
  Demand forward(T value, Subscriber<T>& downstream) override {
    auto holds = this->attempt([&] { return bool(predicate_(value)); });
    if (!holds) {
      return Demand::none();
    }
    if (!*holds) {
      this->endEarly(Completion::finished());
      return Demand::none();
    }
    return downstream.receiveValue(std::move(value));
  }

private:
  F predicate_;
};

} // namespace platform::reactive::detail
