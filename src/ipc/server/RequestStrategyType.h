#pragma once

#include "ipc/XPCConnectionType.h"
#include "ipc/XPCRequest.h"
#include "platform/reactive/AnyPublisher.h"

namespace ipc {

// Answers one incoming request. The publisher emits nothing, never fails, and completes once
// the request has been answered; the engine subscribes to it at once.
class RequestStrategyType {
public:
  virtual ~RequestStrategyType() = default;
  virtual platform::reactive::AnyPublisher<platform::reactive::Never>
  handle(const XPCRequest& request, const AnyXPCConnection& connection) = 0;
};

// A publisher that, when subscribed, hands `reply` to the request's reply handler if the
// sender expects a reply, then completes.
platform::reactive::AnyPublisher<platform::reactive::Never>
replyOnSubscription(const XPCRequest& request, XPCMessage reply);

} // namespace ipc
