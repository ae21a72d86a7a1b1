#pragma once

#include "ipc/XPCConnectionType.h"
#include "platform/reactive/AnyPublisher.h"

namespace ipc {

// Accepts connections and publishes each, not yet activated; refuses nothing.
class XPCListenerType {
public:
  virtual ~XPCListenerType() = default;
  virtual platform::reactive::AnyPublisher<AnyXPCConnection> connections() = 0;
  virtual void activate() = 0;
  virtual void invalidate() = 0;
};

} // namespace ipc
