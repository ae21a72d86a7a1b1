#pragma once

#include "platform/reactive/AnyPublisher.h"

namespace platform::reactive {

// Finishes at once, without values.
template <class T> AnyPublisher<T> Empty() {
  return detail::completed<T>(Completion::finished());
}

// Fails at once with the error (an exception pointer or any exception value).
template <class T, class E> AnyPublisher<T> Fail(E error) {
  return detail::completed<T>(Completion::failure(toExceptionPtr(std::move(error))));
}

} // namespace platform::reactive
