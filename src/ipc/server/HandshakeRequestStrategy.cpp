#include "ipc/server/HandshakeRequestStrategy.h"

#include "ipc/ErrorDescription.h"
#include "ipc/Logger.h"
#include "platform/foundation/PathUtilities.h"
#include "platform/security/DynamicCode.h"
#include "platform/security/StaticCode.h"

namespace ipc {

using platform::reactive::AnyPublisher;
using platform::reactive::Never;

HandshakePayload HandshakeRequestStrategy::decodeHandshakePayload(const XPCMessage& message) const {
  return mapper_->decodePayload<HandshakePayload>(message);
}

ClientIdentity HandshakeRequestStrategy::verify(const XPCRequest& request,
                                                XPCConnectionType& connection) {
  const std::string c = connection.description();
  HandshakePayload payload = decodeHandshakePayload(request.message);
  Logger::info([&] { return c + " - Handshake started..."; });
  Logger::info([&] { return c + " - application: " + payload.bundleID; });
  Logger::info([&] { return c + " - version: " + payload.version; });
  Logger::info([&] {
    return c + " - location: " + platform::abbreviatingWithTildeInPath(payload.bundleURL.path());
  });
  bool sandboxed = false;
  try {
    sandboxed = isSandboxed(sandboxEntitlementForTest);
  } catch (const std::exception& error) {
    Logger::error(
        [&] { return "Failed to expand server sandbox due to " + errorDescription(error); });
    throw;
  }
  if (sandboxed) {
    // Widening a sandbox with the client's bookmark has no meaning on this platform: there is no
    // sandbox to widen, and an unsandboxed server (the agent) never gets here.
    Logger::info([] { return std::string("Expanding server sandbox..."); });
  }
  XPCCredentials credentials;
  try {
    credentials = connection.credentials();
  } catch (const std::exception& error) {
    Logger::error([&] {
      return c + " - Failed to load credentials due to error: " + errorDescription(error);
    });
    throw;
  }
  if (!requirement_.rule || !requirement_.rule->isAuthorized(credentials)) {
    throw XPCProtocolError::unauthorized();
  }
  Logger::info([&] { return c + " - Handshake succeed"; });
  ClientIdentity identity = connection.clientIdentity();
  platform::security::SigningInformation information;
  if (credentials.secCode &&
      credentials.secCode->staticCode()->copySigningInformation(information).ok()) {
    identity.signingIdentifier = information.identifier; // as the rule just validated it
  }
  return identity;
}

AnyPublisher<Never> HandshakeRequestStrategy::handle(const XPCRequest& request,
                                                     const AnyXPCConnection& connection) {
  XPCMessage reply;
  try {
    const ClientIdentity identity = verify(request, *connection);
    connection->markHandshaken();
    storage_->recordIdentity(connection->uuid().rawValue, identity);
    {
      std::lock_guard lock(storage_->lock());
      storage_->eventsSubject().send(
          ClientConnectionEvent{connection->uuid(), ClientConnectionEvent::Kind::connect});
    }
    reply = XPCMessage::acknowledge();
  } catch (const std::exception& error) {
    Logger::error([&] {
      const std::string peer = peerLogText(connection->clientIdentity());
      return connection->description() + " - Handshake failed due to " + errorDescription(error) +
             (peer.empty() ? "" : ", " + peer);
    });
    reply = XPCMessage::errorReply(XPCProtocolError::unauthorized());
  }
  return replyOnSubscription(request, std::move(reply));
}

} // namespace ipc
