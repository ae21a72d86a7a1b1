#pragma once

#include "agent/DemandBuffer.h"
#include "ipc/PayloadTypeName.h"
#include "platform/reactive/AnyPublisher.h"
#include "platform/reactive/Cancellable.h"

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace agent {

// The unqualified name of a type, as a subscription describes itself.
template <class T> struct UnqualifiedTypeName {
  static std::string make() {
    const std::string& qualified = ipc::reflectingName<T>();
    auto dot = qualified.rfind('.');
    return dot == std::string::npos ? qualified : qualified.substr(dot + 1);
  }
};
template <> struct UnqualifiedTypeName<platform::reactive::Never> {
  static std::string make() { return "Never"; }
};

namespace Publishers {

// A publisher fed by a producer function: the factory receives a Subscriber through which it
// reports values and the completion, from any thread and at any time, and returns what cancels
// its work. What it reports before the downstream asks is buffered (DemandBuffer). `Failure`
// names the error kind for descriptions; errors travel as exception pointers.
template <class Value, class Failure = platform::reactive::Never>
class Create : public platform::reactive::PublisherOperators<Create<Value, Failure>, Value> {
public:
  using Output = Value;

  // The producer's handle on the stream. Copies are cheap; calls after the subscription ended
  // are ignored.
  struct Subscriber {
    std::function<void(Output)> onValue;
    std::function<void(platform::reactive::Completion)> onCompletion;
  };

  using Factory = std::function<platform::reactive::AnyCancellable(Subscriber)>;

  // The link between the buffer and the downstream subscriber; it owns the producer's
  // cancellable, so releasing it also stops the producer.
  class Subscription final : public platform::reactive::Subscription {
  public:
    explicit Subscription(std::shared_ptr<platform::reactive::Subscriber<Output>> downstream)
        : buffer(std::make_shared<DemandBuffer<Output>>(std::move(downstream))) {}

    void request(platform::reactive::Demand demand) override { buffer->demand(demand); }

    // Stops the producer and delivers nothing more downstream.
    void cancel() override {
      std::optional<platform::reactive::AnyCancellable> cancellable;
      {
        std::lock_guard lock(mutex_);
        cancellable = std::move(cancelable);
        cancelable.reset();
      }
      if (cancellable) {
        cancellable->cancel();
      }
      buffer->detach();
    }

    void setCancelable(platform::reactive::AnyCancellable cancellable) {
      std::lock_guard lock(mutex_);
      cancelable = std::move(cancellable);
    }

    std::string description() const {
      static const std::string text = "Create.Subscription<" + UnqualifiedTypeName<Output>::make() +
                                      ", " + UnqualifiedTypeName<Failure>::make() + ">";
      return text;
    }

    std::shared_ptr<DemandBuffer<Output>> buffer;
    std::optional<platform::reactive::AnyCancellable> cancelable;

  private:
    std::mutex mutex_;
  };

  explicit Create(Factory factory) : factory(std::make_shared<const Factory>(std::move(factory))) {}

  void subscribe(std::shared_ptr<platform::reactive::Subscriber<Output>> subscriber) const {
    auto subscription = std::make_shared<Subscription>(subscriber);
    std::weak_ptr<Subscription> weak = subscription;
    Subscriber handle{[weak](Output value) {
                        if (auto alive = weak.lock()) {
                          alive->buffer->buffer(std::move(value));
                        }
                      },
                      [weak](platform::reactive::Completion completion) {
                        if (auto alive = weak.lock()) {
                          alive->buffer->complete(std::move(completion));
                        }
                      }};
    // The factory runs before the subscriber has its subscription: what it reports at once
    // waits in the buffer.
    subscription->setCancelable((*factory)(std::move(handle)));
    subscriber->receiveSubscription(subscription);
  }

  platform::reactive::AnyPublisher<Output> eraseToAnyPublisher() const {
    Create self = *this;
    return platform::reactive::AnyPublisher<Output>(
        [self](std::shared_ptr<platform::reactive::Subscriber<Output>> subscriber) {
          self.subscribe(std::move(subscriber));
        });
  }

  std::shared_ptr<const Factory> factory;
};

} // namespace Publishers
} // namespace agent
