#pragma once

#include "platform/reactive/AnyPublisher.h"
#include "platform/reactive/detail/Broadcast.h"

namespace platform::reactive {

// Sends each value to the subscribers present at that moment that have demand for it; a
// value nobody asked for is dropped. Copies of the handle name the same subject. send may be
// called from several threads at once; each subscriber still receives one value at a time.
template <class T> class PassthroughSubject : public PublisherOperators<PassthroughSubject<T>, T> {
public:
  using Output = T;

  PassthroughSubject() : broadcast_(std::make_shared<detail::Broadcast<T>>()) {}

  void send(const T& value) const { broadcast_->send(value); }
  // Ends the subject; later sends are ignored and later subscribers get this completion.
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

  std::size_t subscriberCountForTest() const { return broadcast_->subscriberCount(); }

private:
  std::shared_ptr<detail::Broadcast<T>> broadcast_;
};

} // namespace platform::reactive
