#pragma once

#include "platform/foundation/PropertyList.h"

#include <memory>
#include <optional>

namespace utilities {

// launchd's message interface: one request dictionary in, one reply (of any type) or no reply
// out. Implementations must be safe to call from any thread.
class LaunchdMessageInterface {
public:
  virtual ~LaunchdMessageInterface() = default;
  // Sends `request` and returns launchd's reply, or none when no reply arrives.
  virtual std::optional<platform::PropertyList>
  sendMessage(const platform::PropertyList& request) = 0;
};

// The Linux implementation: there is no launchd to ask, so no message is ever answered.
class NoLaunchdMessageInterface : public LaunchdMessageInterface {
public:
  std::optional<platform::PropertyList> sendMessage(const platform::PropertyList& request) override;
};

} // namespace utilities
