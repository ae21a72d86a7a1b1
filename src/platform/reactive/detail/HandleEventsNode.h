#pragma once

#include "platform/reactive/EventHooks.h"
#include "platform/reactive/detail/PassThroughNode.h"

namespace platform::reactive::detail {

template <class T> class HandleEventsNode final : public PassThroughNode<T, T> {
public:
  HandleEventsNode(std::shared_ptr<Subscriber<T>> downstream, EventHooks<T> hooks)
      : PassThroughNode<T, T>(std::move(downstream)), hooks_(std::move(hooks)) {}

protected:
  Demand forward(T value, Subscriber<T>& downstream) override {
    if (hooks_.receiveOutput && !this->attemptAction([&] { hooks_.receiveOutput(value); })) {
      return Demand::none();
    }
    return downstream.receiveValue(std::move(value));
  }
  void forwardCompletion(Completion completion, Subscriber<T>& downstream) override {
    runIgnoringErrors(hooks_.receiveCompletion, completion);
    downstream.receiveCompletion(std::move(completion));
  }
  void didReceiveSubscription() override { runIgnoringErrors(hooks_.receiveSubscription); }
  void didReceiveRequest(Demand demand) override {
    runIgnoringErrors(hooks_.receiveRequest, demand);
  }
  void didCancel() override { runIgnoringErrors(hooks_.receiveCancel); }

private:
  template <class Hook, class... Args> static void runIgnoringErrors(Hook& hook, Args&... args) {
    if (!hook) {
      return;
    }
    try {
      hook(args...);
    } catch (...) {
    }
  }

  EventHooks<T> hooks_;
};

} // namespace platform::reactive::detail
