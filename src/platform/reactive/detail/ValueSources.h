#pragma once

#include "platform/reactive/detail/Emitter.h"

#include <memory>

namespace platform::reactive {
template <class T> class AnyPublisher;
}

namespace platform::reactive::detail {

// A publisher that gives each subscriber the value, once it asks, and then finishes.
template <class T> AnyPublisher<T> just(T value) {
  return AnyPublisher<T>([value](std::shared_ptr<Subscriber<T>> subscriber) {
    auto subscription = std::make_shared<EmitterSubscription<T>>(std::move(subscriber));
    subscription->emitter().push(value);
    subscription->emitter().complete(Completion::finished());
    subscription->start();
  });
}

// A publisher that gives each subscriber the completion at once, without values.
template <class T> AnyPublisher<T> completed(Completion completion) {
  return AnyPublisher<T>([completion](std::shared_ptr<Subscriber<T>> subscriber) {
    auto subscription = std::make_shared<EmitterSubscription<T>>(std::move(subscriber));
    subscription->emitter().complete(completion);
    subscription->start();
  });
}

} // namespace platform::reactive::detail
