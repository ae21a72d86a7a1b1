#pragma once

#include "ipc/XPCConnectionType.h"
#include "platform/foundation/NSError.h"
#include "platform/reactive/AnyPublisher.h"

#include <optional>

namespace ipc {

// Accepts connections and publishes each, not yet activated; refuses nothing.
class XPCListenerType {
public:
  virtual ~XPCListenerType() = default;
  virtual platform::reactive::AnyPublisher<AnyXPCConnection> connections() = 0;
  virtual void activate() = 0;
  virtual void invalidate() = 0;
  // Why the last activation could not start listening; none while it listens (or for
  // listeners that cannot fail).
  virtual std::optional<platform::NSError> activationFailure() const { return std::nullopt; }
};

} // namespace ipc
