#pragma once

#include "platform/reactive/AnyPublisher.h"

namespace platform::reactive {

// Gives each subscriber the value once it asks for one, then finishes.
template <class T> AnyPublisher<T> Just(T value) {
  return detail::just(std::move(value));
}

} // namespace platform::reactive
