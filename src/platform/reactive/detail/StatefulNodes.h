#pragma once

#include "platform/reactive/detail/PassThroughNode.h"

#include <optional>

namespace platform::reactive::detail {

// Folds each value into an accumulator and passes on every new accumulator. Calls are
// serialised by the upstream, so the accumulator needs no lock.
template <class In, class Acc, class F> class ScanNode final : public PassThroughNode<In, Acc> {
public:
  ScanNode(std::shared_ptr<Subscriber<Acc>> downstream, Acc initial, F fold)
      : PassThroughNode<In, Acc>(std::move(downstream)), accumulator_(std::move(initial)),
        fold_(std::move(fold)) {}

protected:
  Demand forward(In value, Subscriber<Acc>& downstream) override {
    auto next = this->attempt([&] { return Acc(fold_(accumulator_, std::move(value))); });
    if (!next) {
      return Demand::none();
    }
    accumulator_ = *next;
    return downstream.receiveValue(std::move(*next));
  }

private:
  Acc accumulator_;
  F fold_;
};

// Passes a value on only when it differs from the last one passed on (by the predicate,
// which answers whether two values count as the same).
template <class T, class F> class RemoveDuplicatesNode final : public PassThroughNode<T, T> {
public:
  RemoveDuplicatesNode(std::shared_ptr<Subscriber<T>> downstream, F isDuplicate)
      : PassThroughNode<T, T>(std::move(downstream)), isDuplicate_(std::move(isDuplicate)) {}

protected:
  Demand forward(T value, Subscriber<T>& downstream) override {
    if (last_) {
      auto duplicate = this->attempt([&] { return bool(isDuplicate_(*last_, value)); });
      if (!duplicate) {
        return Demand::none();
      }
      if (*duplicate) {
        return Demand::max(1);
      }
    }
    last_ = value;
    return downstream.receiveValue(std::move(value));
  }

private:
  std::optional<T> last_;
  F isDuplicate_;
};

} // namespace platform::reactive::detail
