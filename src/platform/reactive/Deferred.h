#pragma once

#include "platform/reactive/AnyPublisher.h"

#include <exception>
#include <type_traits>

namespace platform::reactive {

// Calls the factory for each subscriber and subscribes it to the publisher made; a factory
// that throws fails that subscriber's stream.
template <class F, class T = PublisherOutput<std::invoke_result_t<F&>>>
AnyPublisher<T> Deferred(F factory) {
  return AnyPublisher<T>([factory](std::shared_ptr<Subscriber<T>> subscriber) {
    AnyPublisher<T> publisher;
    try {
      publisher = factory().eraseToAnyPublisher();
    } catch (...) {
      publisher = detail::completed<T>(Completion::failure(std::current_exception()));
    }
    publisher.subscribe(std::move(subscriber));
  });
}

} // namespace platform::reactive
