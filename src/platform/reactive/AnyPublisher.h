#pragma once

#include "platform/dispatch/DispatchQueue.h"
#include "platform/reactive/Cancellable.h"
#include "platform/reactive/Completion.h"
#include "platform/reactive/EventHooks.h"
#include "platform/reactive/Sink.h"
#include "platform/reactive/Subscriber.h"
#include "platform/reactive/detail/CombineLatestCore.h"
#include "platform/reactive/detail/FirstNodes.h"
#include "platform/reactive/detail/HandleEventsNode.h"
#include "platform/reactive/detail/MergeCore.h"
#include "platform/reactive/detail/PrefixUntilNode.h"
#include "platform/reactive/detail/ShareCore.h"
#include "platform/reactive/detail/StatefulNodes.h"
#include "platform/reactive/detail/SwitchNode.h"
#include "platform/reactive/detail/TimeoutNode.h"
#include "platform/reactive/detail/TransformNodes.h"
#include "platform/reactive/detail/ValueSources.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <type_traits>
#include <vector>

namespace platform::reactive {

template <class T> class AnyPublisher;

// The output type of a publisher type (AnyPublisher, a subject, ...).
template <class P> using PublisherOutput = typename std::decay_t<P>::Output;

// The operators every publisher offers. Each returns a new, type-erased publisher; nothing
// runs until a subscriber arrives, and every subscriber gets its own run of the chain.
// Closures passed to operators are copied once per subscription and may throw: the error
// becomes the stream's failure (so map is also tryMap).
template <class Derived, class T> class PublisherOperators {
public:
  // Transforms each value.
  template <class F, class U = std::decay_t<std::invoke_result_t<F&, T>>>
  AnyPublisher<U> map(F transform) const {
    return chain<U>([transform](std::shared_ptr<Subscriber<U>> downstream) {
      return std::make_shared<detail::MapNode<T, U, F>>(std::move(downstream), transform);
    });
  }

  // Transforms each value; a thrown error fails the stream.
  template <class F, class U = std::decay_t<std::invoke_result_t<F&, T>>>
  AnyPublisher<U> tryMap(F transform) const {
    return map(std::move(transform));
  }

  // Transforms each value into an optional and passes on the present ones.
  template <class F, class U = typename std::decay_t<std::invoke_result_t<F&, T>>::value_type>
  AnyPublisher<U> compactMap(F transform) const {
    return chain<U>([transform](std::shared_ptr<Subscriber<U>> downstream) {
      return std::make_shared<detail::CompactMapNode<T, U, F>>(std::move(downstream), transform);
    });
  }

  // Passes on the values that satisfy the predicate.
  template <class F> AnyPublisher<T> filter(F predicate) const {
    return compactMap([predicate](T value) -> std::optional<T> {
      if (predicate(value)) {
        return value;
      }
      return std::nullopt;
    });
  }

  // Turns each value into a publisher and passes on the values of all of them, as they come,
  // without a limit on how many run at once. Finishes when the upstream and every inner
  // publisher have finished; the first failure fails the whole stream.
  template <class F, class U = PublisherOutput<std::invoke_result_t<F&, T>>>
  AnyPublisher<U> flatMap(F transform) const {
    auto upstream = erased();
    return AnyPublisher<U>([upstream, transform](std::shared_ptr<Subscriber<U>> downstream) {
      auto core = std::make_shared<detail::MergeCore<U>>(std::move(downstream));
      upstream.subscribe(std::make_shared<detail::FlatMapOuter<T, U, F>>(core, transform));
      core->start();
    });
  }

  // Passes on the values of this and the other publishers as they come; finishes when all
  // have finished; the first failure fails the whole stream.
  template <class... Ps> AnyPublisher<T> merge(const Ps&... others) const {
    std::vector<AnyPublisher<T>> all{erased(), others.eraseToAnyPublisher()...};
    return AnyPublisher<T>([all](std::shared_ptr<Subscriber<T>> downstream) {
      auto core = std::make_shared<detail::MergeCore<T>>(std::move(downstream));
      for (const auto& publisher : all) {
        core->addInner(publisher);
      }
      core->outerFinished();
      core->start();
    });
  }

  // Emits the pair of the latest values of this and the other publisher each time either
  // produces one, once both have produced a value.
  template <class P, class U = PublisherOutput<P>>
  AnyPublisher<std::pair<T, U>> combineLatest(const P& other) const {
    auto first = erased();
    AnyPublisher<U> second = other.eraseToAnyPublisher();
    return AnyPublisher<std::pair<T, U>>(
        [first, second](std::shared_ptr<Subscriber<std::pair<T, U>>> downstream) {
          auto core = std::make_shared<detail::CombineLatestCore<T, U>>(std::move(downstream));
          core->start(first, second);
        });
  }

  // Passes on the first value, then finishes and cancels upstream.
  AnyPublisher<T> first() const {
    return first([](const T&) { return true; });
  }

  // Passes on the first value that satisfies the predicate, then finishes.
  template <class F> AnyPublisher<T> first(F predicate) const {
    return chain<T>([predicate](std::shared_ptr<Subscriber<T>> downstream) {
      return std::make_shared<detail::FirstNode<T, F>>(std::move(downstream), predicate);
    });
  }

  // Passes values on while the predicate holds; finishes at the first value that fails it.
  template <class F> AnyPublisher<T> prefixWhile(F predicate) const {
    return chain<T>([predicate](std::shared_ptr<Subscriber<T>> downstream) {
      return std::make_shared<detail::PrefixWhileNode<T, F>>(std::move(downstream), predicate);
    });
  }

  // Passes values on until the trigger emits a value; then finishes, within that emission.
  template <class P> AnyPublisher<T> prefixUntilOutputFrom(const P& trigger) const {
    using Trigger = PublisherOutput<P>;
    auto upstream = erased();
    auto triggerPublisher = trigger.eraseToAnyPublisher();
    return AnyPublisher<T>([upstream, triggerPublisher](std::shared_ptr<Subscriber<T>> downstream) {
      auto node = std::make_shared<detail::PrefixUntilNode<T, Trigger>>(std::move(downstream));
      node->start(triggerPublisher, upstream);
    });
  }

  // Ends the stream when nothing arrives within the interval, counted from the subscription
  // and from each value. The timer runs on `queue`, where the time-out is delivered: as a
  // failure with customError()'s error (an exception pointer or any exception value), or as
  // finishing when no factory is given.
  AnyPublisher<T> timeout(std::chrono::nanoseconds interval, dispatch::DispatchQueue queue) const {
    return timeoutWith(interval, std::move(queue), nullptr);
  }
  template <class F>
  AnyPublisher<T> timeout(std::chrono::nanoseconds interval, dispatch::DispatchQueue queue,
                          F customError) const {
    return timeoutWith(interval, std::move(queue),
                       [customError] { return toExceptionPtr(customError()); });
  }

  // On failure, continues with the publisher that the handler makes from the error.
  template <class F> AnyPublisher<T> catchError(F handler) const {
    auto upstream = erased();
    return AnyPublisher<T>([upstream, handler](std::shared_ptr<Subscriber<T>> downstream) {
      auto node = std::make_shared<detail::SwitchNode<T>>(
          std::move(downstream),
          [handler](std::size_t phase,
                    const Completion& completion) -> std::optional<AnyPublisher<T>> {
            if (phase == 0 && completion.isFailure()) {
              return handler(completion.error()).eraseToAnyPublisher();
            }
            return std::nullopt;
          });
      node->start(upstream);
    });
  }

  // On failure, emits the value and finishes.
  AnyPublisher<T> replaceError(T value) const {
    return catchError([value](const std::exception_ptr&) { return detail::just(value); });
  }

  // On failure, finishes quietly instead.
  AnyPublisher<T> replaceErrorWithEmpty() const {
    return catchError(
        [](const std::exception_ptr&) { return detail::completed<T>(Completion::finished()); });
  }

  // After this publisher finishes, continues with the other one; a failure ends the stream.
  template <class P> AnyPublisher<T> append(const P& other) const {
    auto upstream = erased();
    AnyPublisher<T> next = other.eraseToAnyPublisher();
    return AnyPublisher<T>([upstream, next](std::shared_ptr<Subscriber<T>> downstream) {
      auto node = std::make_shared<detail::SwitchNode<T>>(
          std::move(downstream),
          [next](std::size_t phase,
                 const Completion& completion) -> std::optional<AnyPublisher<T>> {
            if (phase == 0 && completion.isFinished()) {
              return next;
            }
            return std::nullopt;
          });
      node->start(upstream);
    });
  }

  // Replaces a failure's error by what the transform makes of it (an exception pointer or
  // any exception value).
  template <class F> AnyPublisher<T> mapError(F transform) const {
    auto wrapped = [transform](const std::exception_ptr& error) {
      return toExceptionPtr(transform(error));
    };
    using Wrapped = decltype(wrapped);
    return chain<T>([wrapped](std::shared_ptr<Subscriber<T>> downstream) {
      return std::make_shared<detail::MapErrorNode<T, Wrapped>>(std::move(downstream), wrapped);
    });
  }

  // Runs the hooks as events pass.
  AnyPublisher<T> handleEvents(EventHooks<T> hooks) const {
    return chain<T>([hooks](std::shared_ptr<Subscriber<T>> downstream) {
      return std::make_shared<detail::HandleEventsNode<T>>(std::move(downstream), hooks);
    });
  }

  // Folds each value into the accumulator and emits every new accumulator.
  template <class U, class F> AnyPublisher<U> scan(U initial, F fold) const {
    return chain<U>([initial, fold](std::shared_ptr<Subscriber<U>> downstream) {
      return std::make_shared<detail::ScanNode<T, U, F>>(std::move(downstream), initial, fold);
    });
  }

  // Drops values equal (==) to the one passed on before them.
  AnyPublisher<T> removeDuplicates() const {
    return removeDuplicates([](const T& a, const T& b) { return a == b; });
  }
  // Drops values that the predicate calls duplicates of the one passed on before them.
  template <class F> AnyPublisher<T> removeDuplicates(F isDuplicate) const {
    return chain<T>([isDuplicate](std::shared_ptr<Subscriber<T>> downstream) {
      return std::make_shared<detail::RemoveDuplicatesNode<T, F>>(std::move(downstream),
                                                                  isDuplicate);
    });
  }

  // Drops every value; passes the completion on.
  AnyPublisher<Never> ignoreOutput() const;

  // Shares one run of this publisher among all current subscribers.
  AnyPublisher<T> share() const {
    auto core = std::make_shared<detail::ShareCore<T>>(erased());
    return AnyPublisher<T>([core](std::shared_ptr<Subscriber<T>> downstream) {
      core->subscribe(std::move(downstream));
    });
  }

  // Subscribes with handlers and unlimited demand; the stream lives as long as the result.
  [[nodiscard]] AnyCancellable sink(typename Sink<T>::CompletionHandler receiveCompletion,
                                    typename Sink<T>::ValueHandler receiveValue) const {
    auto subscriber =
        std::make_shared<Sink<T>>(std::move(receiveCompletion), std::move(receiveValue));
    derived().subscribe(subscriber);
    return AnyCancellable(std::shared_ptr<Cancellable>(subscriber));
  }
  [[nodiscard]] AnyCancellable sink(typename Sink<T>::ValueHandler receiveValue) const {
    return sink(nullptr, std::move(receiveValue));
  }

private:
  const Derived& derived() const { return static_cast<const Derived&>(*this); }
  AnyPublisher<T> erased() const { return derived().eraseToAnyPublisher(); }

  // A publisher that puts the node `makeNode` builds between this publisher and each subscriber.
  template <class U, class MakeNode> AnyPublisher<U> chain(MakeNode makeNode) const {
    auto upstream = erased();
    return AnyPublisher<U>([upstream, makeNode](std::shared_ptr<Subscriber<U>> downstream) {
      upstream.subscribe(makeNode(std::move(downstream)));
    });
  }

  AnyPublisher<T> timeoutWith(std::chrono::nanoseconds interval, dispatch::DispatchQueue queue,
                              std::function<std::exception_ptr()> customError) const {
    return chain<T>([interval, queue, customError](std::shared_ptr<Subscriber<T>> downstream) {
      return std::make_shared<detail::TimeoutNode<T>>(std::move(downstream), interval, queue,
                                                      customError);
    });
  }
};

// A publisher of T values whose concrete kind is hidden. Cheap to copy: copies share the
// subscribe function. The default value is a publisher that finishes at once.
template <class T> class AnyPublisher : public PublisherOperators<AnyPublisher<T>, T> {
public:
  using Output = T;
  using SubscribeFunction = std::function<void(std::shared_ptr<Subscriber<T>>)>;

  AnyPublisher() : AnyPublisher(detail::completed<T>(Completion::finished())) {}
  explicit AnyPublisher(SubscribeFunction subscribe)
      : subscribe_(std::make_shared<const SubscribeFunction>(std::move(subscribe))) {}

  void subscribe(std::shared_ptr<Subscriber<T>> subscriber) const {
    (*subscribe_)(std::move(subscriber));
  }
  AnyPublisher eraseToAnyPublisher() const { return *this; }

private:
  std::shared_ptr<const SubscribeFunction> subscribe_;
};

template <class Derived, class T>
AnyPublisher<Never> PublisherOperators<Derived, T>::ignoreOutput() const {
  return chain<Never>([](std::shared_ptr<Subscriber<Never>> downstream) {
    return std::make_shared<detail::IgnoreOutputNode<T>>(std::move(downstream));
  });
}

} // namespace platform::reactive
