#pragma once

#include "platform/reactive/AnyPublisher.h"
#include "platform/reactive/detail/Emitter.h"

#include <deque>
#include <mutex>

namespace ipc {

// Joins the elements of a sequence with the acknowledgement of its start: elements that arrive
// before the acknowledgement wait and are passed on once it came, in order; later ones pass at
// once. A failure of either side fails the whole. The elements are subscribed before the start
// is sent, so that none can slip past.
template <class E>
class SequenceGate final : public platform::reactive::Subscription,
                           public std::enable_shared_from_this<SequenceGate<E>> {
public:
  template <class A>
  static platform::reactive::AnyPublisher<E> make(platform::reactive::AnyPublisher<E> elements,
                                                  platform::reactive::AnyPublisher<A> started) {
    return platform::reactive::AnyPublisher<E>(
        [elements, started](std::shared_ptr<platform::reactive::Subscriber<E>> subscriber) {
          auto gate = std::make_shared<SequenceGate>(std::move(subscriber));
          gate->start(elements, started);
        });
  }

  explicit SequenceGate(std::shared_ptr<platform::reactive::Subscriber<E>> downstream)
      : emitter_(std::move(downstream)) {}

  void request(platform::reactive::Demand demand) override { emitter_.addDemand(demand); }
  void cancel() override {
    emitter_.cancel();
    std::lock_guard lock(mutex_);
    elements_.cancel();
    started_.cancel();
  }

private:
  template <class A>
  void start(const platform::reactive::AnyPublisher<E>& elements,
             const platform::reactive::AnyPublisher<A>& started) {
    std::weak_ptr<SequenceGate> weakSelf = this->weak_from_this();
    emitter_.start(this->shared_from_this());
    auto elementSubscription = elements.sink(
        [weakSelf](const platform::reactive::Completion& completion) {
          if (auto self = weakSelf.lock()) {
            self->elementsEnded(completion);
          }
        },
        [weakSelf](E element) {
          if (auto self = weakSelf.lock()) {
            self->element(std::move(element));
          }
        });
    {
      std::lock_guard lock(mutex_);
      elements_ = std::move(elementSubscription);
    }
    auto startSubscription = started.sink(
        [weakSelf](const platform::reactive::Completion& completion) {
          auto self = weakSelf.lock();
          if (self && completion.isFailure()) {
            self->emitter_.complete(completion);
          }
        },
        [weakSelf](const A&) {
          if (auto self = weakSelf.lock()) {
            self->open();
          }
        });
    std::lock_guard lock(mutex_);
    started_ = std::move(startSubscription);
  }

  void element(E value) {
    std::lock_guard lock(mutex_);
    if (!open_) {
      pending_.push_back(std::move(value));
      return;
    }
    emitter_.push(std::move(value));
  }

  void elementsEnded(const platform::reactive::Completion& completion) {
    std::lock_guard lock(mutex_);
    if (open_ || completion.isFailure()) {
      emitter_.complete(completion);
      return;
    }
    pendingCompletion_ = completion;
  }

  void open() {
    std::lock_guard lock(mutex_);
    open_ = true;
    while (!pending_.empty()) {
      emitter_.push(std::move(pending_.front()));
      pending_.pop_front();
    }
    if (pendingCompletion_) {
      emitter_.complete(*pendingCompletion_);
    }
  }

  platform::reactive::detail::Emitter<E> emitter_;
  // Recursive: the emitter may call downstream, which may cancel, from inside these calls.
  std::recursive_mutex mutex_;
  bool open_ = false;
  std::deque<E> pending_;
  std::optional<platform::reactive::Completion> pendingCompletion_;
  platform::reactive::AnyCancellable elements_;
  platform::reactive::AnyCancellable started_;
};

} // namespace ipc
