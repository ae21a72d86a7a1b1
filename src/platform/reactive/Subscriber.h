#pragma once

#include "platform/reactive/Completion.h"
#include "platform/reactive/Demand.h"
#include "platform/reactive/Subscription.h"

#include <memory>

namespace platform::reactive {

// The receiving end of a stream. A publisher calls receiveSubscription exactly once and first,
// then receiveValue at most as often as demand allows, then at most one receiveCompletion.
// The calls for one subscriber never overlap, although they may come from different threads.
template <class T> class Subscriber {
public:
  using Input = T;
  virtual ~Subscriber() = default;

  virtual void receiveSubscription(std::shared_ptr<Subscription> subscription) = 0;
  // Returns the demand to add on top of what was requested so far.
  virtual Demand receiveValue(T value) = 0;
  virtual void receiveCompletion(Completion completion) = 0;
};

} // namespace platform::reactive
