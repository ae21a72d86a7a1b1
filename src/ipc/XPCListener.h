#pragma once

#include "ipc/XPCListenerType.h"
#include "platform/reactive/PassthroughSubject.h"
#include "platform/xpc/Listener.h"

#include <memory>
#include <string>

namespace ipc {

class ConnectionQuota;

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

private:
  static void accept(const platform::reactive::PassthroughSubject<AnyXPCConnection>& connections,
                     const std::optional<std::string>& serviceName,
                     const std::shared_ptr<ConnectionQuota>& quota,
                     std::shared_ptr<platform::xpc::Connection> transport);

  platform::reactive::PassthroughSubject<AnyXPCConnection> connections_;
  std::unique_ptr<platform::xpc::Listener> listener_;
  std::optional<std::string> serviceName_;
  std::optional<platform::NSError> failure_;
  std::shared_ptr<ConnectionQuota> quota_;
};

} // namespace ipc
