#pragma once

#include "platform/reactive/AnyPublisher.h"

#include <chrono>
#include <exception>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <vector>

namespace platform::reactive {

// The failure of a wait that ran out of time.
class WaitTimedOut : public std::runtime_error {
public:
  WaitTimedOut() : std::runtime_error("no answer in time") {}
};

// How a publisher ended: its values and, when it failed, the failure.
template <class T> struct Outcome {
  std::vector<T> values;
  std::exception_ptr error;
};

// Subscribes to `publisher` and blocks until it ends or `limit` passes (a time-out is reported
// as a failure). `onValue` runs for each value as it arrives, on the delivering thread.
template <class T>
Outcome<T> await(const AnyPublisher<T>& publisher, std::chrono::milliseconds limit,
                 std::function<void(const T&)> onValue = nullptr) {
  struct Shared {
    std::mutex mutex;
    Outcome<T> outcome;
    std::promise<void> done;
    bool ended = false;
  };
  auto shared = std::make_shared<Shared>();
  auto future = shared->done.get_future();
  auto subscription = publisher.sink(
      [shared](const Completion& completion) {
        std::lock_guard lock(shared->mutex);
        if (shared->ended) {
          return;
        }
        shared->ended = true;
        shared->outcome.error = completion.error();
        shared->done.set_value();
      },
      [shared, onValue](T value) {
        if (onValue) {
          onValue(value);
        }
        std::lock_guard lock(shared->mutex);
        shared->outcome.values.push_back(std::move(value));
      });
  const bool ended = future.wait_for(limit) == std::future_status::ready;
  subscription.cancel();
  std::lock_guard lock(shared->mutex);
  if (!ended) {
    shared->outcome.error = std::make_exception_ptr(WaitTimedOut());
  }
  return std::move(shared->outcome);
}

} // namespace platform::reactive
