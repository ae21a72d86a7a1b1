#pragma once

#include "ipc/XPCProtocolError.h"
#include "ipc/server/RequestStrategyType.h"

namespace ipc {

// Answers one message that cannot be served at all with an error reply carrying `error`.
class FailureRequestStrategy final : public RequestStrategyType {
public:
  explicit FailureRequestStrategy(XPCProtocolError error) : error(std::move(error)) {}
  platform::reactive::AnyPublisher<platform::reactive::Never>
  handle(const XPCRequest& request, const AnyXPCConnection&) override {
    return replyOnSubscription(request, XPCMessage::errorReply(error));
  }
  XPCProtocolError error;
};

} // namespace ipc
