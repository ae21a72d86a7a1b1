#pragma once

#include "ipc/AuthorizationRule.h"
#include "ipc/HandshakePayload.h"
#include "ipc/XPCMessageMapper.h"
#include "ipc/server/ClientRequirement.h"
#include "ipc/server/ConnectedClients.h"
#include "ipc/server/RequestStrategyType.h"

#include <functional>

namespace ipc {

// Admits a client: checks the handshake payload, obtains the peer's code identity and asks the
// client requirement. The decision rests on the code signature alone; the payload's identity
// fields are only logged.
class HandshakeRequestStrategy final : public RequestStrategyType {
public:
  HandshakeRequestStrategy(ClientRequirement requirement, std::shared_ptr<ConnectedClients> storage,
                           std::shared_ptr<const XPCMessageMapper> mapper)
      : requirement_(std::move(requirement)), storage_(std::move(storage)),
        mapper_(std::move(mapper)) {}

  platform::reactive::AnyPublisher<platform::reactive::Never>
  handle(const XPCRequest& request, const AnyXPCConnection& connection) override;

  // Throws when the client may not be admitted.
  // Checks the handshake; gives who the admitted client is, or throws.
  ClientIdentity verify(const XPCRequest& request, XPCConnectionType& connection);
  HandshakePayload decodeHandshakePayload(const XPCMessage& message) const;

  // Where the sandbox check comes from (tests replace it).
  std::function<SandboxEntitlement()> sandboxEntitlementForTest = lookUpSandboxEntitlement;

private:
  ClientRequirement requirement_;
  std::shared_ptr<ConnectedClients> storage_;
  std::shared_ptr<const XPCMessageMapper> mapper_;
};

} // namespace ipc
