#pragma once

#include "StartDiagnosis.h"
#include "ipc/XPCConnectionType.h"

#include <memory>

namespace agentctl {

// A connection that passes everything through to the real one and records in a StartDiagnosis
// how the handshake ended: the error that the agent answered with, or the send's own failure.
class WatchedConnection final : public ipc::XPCConnectionType {
public:
  WatchedConnection(ipc::AnyXPCConnection connection, std::shared_ptr<StartDiagnosis> diagnosis)
      : connection_(std::move(connection)), diagnosis_(std::move(diagnosis)) {}

  const ipc::XPCIdentifier<ipc::XPCConnectionType>& uuid() const override {
    return connection_->uuid();
  }
  std::string description() const override { return connection_->description(); }
  platform::reactive::AnyPublisher<ipc::XPCRequest> requests() override {
    return connection_->requests();
  }
  platform::reactive::AnyPublisher<ipc::XPCConnectionError> errors() override {
    return connection_->errors();
  }
  ipc::XPCCredentials credentials() override { return connection_->credentials(); }
  platform::reactive::AnyPublisher<ipc::XPCMessage>
  send(ipc::XPCMessage message, std::chrono::milliseconds timeout) override;
  ipc::XPCMessage sendAndWait(ipc::XPCMessage message, std::chrono::milliseconds timeout) override {
    return connection_->sendAndWait(std::move(message), timeout);
  }
  void sendWithoutReply(const platform::Bytes& bytes) override {
    connection_->sendWithoutReply(bytes);
  }
  const ipc::XPCMessageEncoderType& encoder() const override { return connection_->encoder(); }
  void activate() override { connection_->activate(); }
  void invalidate() override { connection_->invalidate(); }

private:
  ipc::AnyXPCConnection connection_;
  std::shared_ptr<StartDiagnosis> diagnosis_;
};

} // namespace agentctl
