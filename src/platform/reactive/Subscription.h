#pragma once

#include "platform/reactive/Cancellable.h"
#include "platform/reactive/Demand.h"

namespace platform::reactive {

// The link a publisher gives its subscriber: the subscriber asks for more values through it,
// or cancels. Both may be called from any thread, also from inside a delivery.
class Subscription : public Cancellable {
public:
  // Adds to the demand; a demand of none has no effect.
  virtual void request(Demand demand) = 0;
};

} // namespace platform::reactive
