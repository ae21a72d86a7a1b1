#pragma once

#include "platform/reactive/AnyPublisher.h"
#include "platform/reactive/detail/Broadcast.h"

#include <utility>

namespace platform::reactive {

// Holds a current value: a new subscriber gets it first, and every send replaces it and goes
// to all subscribers. A subscriber without demand keeps only the latest value for when it
// asks. Copies of the handle name the same subject; thread-safe like PassthroughSubject.
template <class T>
class CurrentValueSubject : public PublisherOperators<CurrentValueSubject<T>, T> {
public:
  using Output = T;

  explicit CurrentValueSubject(T initial)
      : broadcast_(std::make_shared<detail::Broadcast<T>>(std::move(initial))) {}

  T value() const { return broadcast_->currentValue(); }
  // `read` applied to the current value without copying it (it must not send to this subject).
  template <class Read> decltype(auto) readValue(Read&& read) const {
    return broadcast_->readCurrentValue(std::forward<Read>(read));
  }

  void send(const T& value) const { broadcast_->send(value); }
  void send(Completion completion) const { broadcast_->complete(std::move(completion)); }

  void subscribe(std::shared_ptr<Subscriber<T>> subscriber) const {
    broadcast_->subscribe(std::move(subscriber));
  }
  AnyPublisher<T> eraseToAnyPublisher() const {
    auto broadcast = broadcast_;
    return AnyPublisher<T>([broadcast](std::shared_ptr<Subscriber<T>> subscriber) {
      broadcast->subscribe(std::move(subscriber));
    });
  }

private:
  std::shared_ptr<detail::Broadcast<T>> broadcast_;
};

} // namespace platform::reactive
