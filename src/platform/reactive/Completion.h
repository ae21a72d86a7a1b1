#pragma once

#include <exception>
#include <stdexcept>
#include <type_traits>
#include <utility>

namespace platform::reactive {

// How a stream ended: finished normally, or failed with an error. Every stream carries its
// error as an exception pointer, so that operators and type erasure need no error parameter.
// A stream that never fails simply never sends a failure.
class Completion {
public:
  static Completion finished() { return Completion(nullptr); }
  // A null error would be indistinguishable from finishing; it is replaced by a generic one.
  static Completion failure(std::exception_ptr error) {
    return Completion(error ? error
                            : std::make_exception_ptr(std::logic_error("failure without error")));
  }
  template <class E> static Completion failure(E error) {
    return Completion(std::make_exception_ptr(std::move(error)));
  }

  bool isFinished() const { return !error_; }
  bool isFailure() const { return static_cast<bool>(error_); }
  // The failure's error; null when finished.
  const std::exception_ptr& error() const { return error_; }

private:
  explicit Completion(std::exception_ptr error) : error_(std::move(error)) {}
  std::exception_ptr error_;
};

// The error of a failure as an exception pointer: an exception pointer stays as it is, any
// other value becomes the exception it names.
template <class E> std::exception_ptr toExceptionPtr(E&& error) {
  if constexpr (std::is_same_v<std::decay_t<E>, std::exception_ptr>) {
    return error;
  } else {
    return std::make_exception_ptr(std::forward<E>(error));
  }
}

// The output type of a stream that emits no values (for example after ignoreOutput()).
struct Never {
  bool operator==(const Never&) const = default;
};

} // namespace platform::reactive
