#pragma once

#include "platform/reactive/Completion.h"
#include "platform/reactive/Demand.h"

#include <functional>

namespace platform::reactive {

// The side effects handleEvents() runs as events pass; each hook is optional and runs before
// the event is handed on. A hook that throws on a value ends the stream with that error; a
// throw from any other hook is ignored.
template <class T> struct EventHooks {
  std::function<void()> receiveSubscription = nullptr;
  std::function<void(const T&)> receiveOutput = nullptr;
  std::function<void(const Completion&)> receiveCompletion = nullptr;
  std::function<void()> receiveCancel = nullptr;
  std::function<void(Demand)> receiveRequest = nullptr;
};

} // namespace platform::reactive
