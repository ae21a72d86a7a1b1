#pragma once

#include "platform/reactive/detail/PassThroughNode.h"

#include <optional>

namespace platform::reactive::detail {

// Transforms each value; a transform that throws ends the stream with its error (tryMap).
template <class In, class Out, class F> class MapNode final : public PassThroughNode<In, Out> {
public:
  MapNode(std::shared_ptr<Subscriber<Out>> downstream, F transform)
      : PassThroughNode<In, Out>(std::move(downstream)), transform_(std::move(transform)) {}

protected:
  Demand forward(In value, Subscriber<Out>& downstream) override {
    auto mapped = this->attempt([&] { return Out(transform_(std::move(value))); });
    return mapped ? downstream.receiveValue(std::move(*mapped)) : Demand::none();
  }

private:
  F transform_;
};

// Transforms each value into an optional and passes on only the present ones. Each dropped
// value is made up for by asking upstream for one more.
template <class In, class Out, class F>
class CompactMapNode final : public PassThroughNode<In, Out> {
public:
  CompactMapNode(std::shared_ptr<Subscriber<Out>> downstream, F transform)
      : PassThroughNode<In, Out>(std::move(downstream)), transform_(std::move(transform)) {}

protected:
  Demand forward(In value, Subscriber<Out>& downstream) override {
    auto mapped = this->attempt([&] { return std::optional<Out>(transform_(std::move(value))); });
    if (!mapped) {
      return Demand::none();
    }
    if (!*mapped) {
      return Demand::max(1);
    }
    return downstream.receiveValue(std::move(**mapped));
  }

private:
  F transform_;
};

// Replaces the error of a failure; values and finishing pass unchanged.
template <class T, class F> class MapErrorNode final : public PassThroughNode<T, T> {
public:
  MapErrorNode(std::shared_ptr<Subscriber<T>> downstream, F transform)
      : PassThroughNode<T, T>(std::move(downstream)), transform_(std::move(transform)) {}

protected:
  Demand forward(T value, Subscriber<T>& downstream) override {
    return downstream.receiveValue(std::move(value));
  }
  void forwardCompletion(Completion completion, Subscriber<T>& downstream) override {
    if (completion.isFailure()) {
      std::exception_ptr error;
      try {
        error = transform_(completion.error());
      } catch (...) {
        error = std::current_exception();
      }
      completion = Completion::failure(error);
    }
    downstream.receiveCompletion(std::move(completion));
  }

private:
  F transform_;
};

// Drops every value and passes on only the completion; asks upstream for everything.
template <class T> class IgnoreOutputNode final : public PassThroughNode<T, Never> {
public:
  using PassThroughNode<T, Never>::PassThroughNode;

protected:
  Demand forward(T, Subscriber<Never>&) override { return Demand::none(); }
  Demand upstreamDemand(Demand) override { return Demand::unlimited(); }
};

} // namespace platform::reactive::detail
