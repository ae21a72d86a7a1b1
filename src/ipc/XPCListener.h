#pragma once

#include "ipc/XPCListenerType.h"
#include "platform/reactive/PassthroughSubject.h"
#include "platform/xpc/Listener.h"

#include <memory>
#include <string>

namespace ipc {

// Wraps the transport listener of a service: every accepted connection becomes an
// XPCConnection (checking its peer's identity on every frame) and is published.
class XPCListener final : public XPCListenerType {
public:
  // The listener of the service `serviceName` ("/var/run/" + name).
  static std::unique_ptr<XPCListener> forMachService(const std::string& serviceName);
  // A listener at `socketPath` (tests); `serviceName` is what the log lines show.
  XPCListener(std::unique_ptr<platform::xpc::Listener> listener,
              std::optional<std::string> serviceName);
  ~XPCListener() override;

  platform::reactive::AnyPublisher<AnyXPCConnection> connections() override {
    return connections_.eraseToAnyPublisher();
  }
  // Creates the socket and starts accepting; a failure is logged and kept for
  // activationFailure().
  void activate() override;
  void invalidate() override;
  std::optional<platform::NSError> activationFailure() const override { return failure_; }

  // At most this many accepted connections wait for their handshake at once; the oldest is
  // closed to make room, so idle strangers cannot use up the agent's descriptors.
  static constexpr size_t kMaxConnectionsAwaitingHandshake = 64;

private:
  class AwaitingHandshake;
  static void accept(const platform::reactive::PassthroughSubject<AnyXPCConnection>& connections,
                     const std::optional<std::string>& serviceName,
                     const std::shared_ptr<AwaitingHandshake>& awaiting,
                     std::shared_ptr<platform::xpc::Connection> transport);

  platform::reactive::PassthroughSubject<AnyXPCConnection> connections_;
  std::unique_ptr<platform::xpc::Listener> listener_;
  std::optional<std::string> serviceName_;
  std::optional<platform::NSError> failure_;
  std::shared_ptr<AwaitingHandshake> awaiting_;
};

} // namespace ipc
