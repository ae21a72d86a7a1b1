#pragma once

#include "ipc/XPCConnectionType.h"
#include "ipc/XPCMessageJSONEncoder.h"

namespace ipc {

// The connection of a client whose service could not be reached: it has already ended, so
// every stream fails at once with its XPCConnectionError.
class UnreachableConnection final : public XPCConnectionType {
public:
  UnreachableConnection() = default;

  const XPCIdentifier<XPCConnectionType>& uuid() const override { return uuid_; }
  std::string description() const override { return "Connection<" + uuid_.description() + ">"; }
  platform::reactive::AnyPublisher<XPCRequest> requests() override;
  platform::reactive::AnyPublisher<XPCConnectionError> errors() override;
  XPCCredentials credentials() override;
  platform::reactive::AnyPublisher<XPCMessage> send(XPCMessage message,
                                                    std::chrono::milliseconds timeout) override;
  void sendWithoutReply(const platform::Bytes&) override {}
  const XPCMessageEncoderType& encoder() const override { return encoder_; }
  void activate() override {}
  void invalidate() override {}

private:
  XPCConnectionError error() const {
    return XPCConnectionError(uuid_, XPCConnectionError::Reason::invalidated);
  }
  XPCIdentifier<XPCConnectionType> uuid_;
  XPCMessageJSONEncoder encoder_;
};

} // namespace ipc
