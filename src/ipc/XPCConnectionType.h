#pragma once

#include "ipc/ClientIdentity.h"
#include "ipc/XPCConnectionError.h"
#include "ipc/XPCCredentials.h"
#include "ipc/XPCIdentifier.h"
#include "ipc/XPCMessage.h"
#include "ipc/XPCMessageEncoderType.h"
#include "ipc/XPCRequest.h"
#include "platform/reactive/AnyPublisher.h"

#include <chrono>
#include <memory>
#include <string>

namespace ipc {

// One connection to a peer, as the engines see it: incoming requests with a way to answer
// each, outgoing sends that wait for one reply, the error that ends the connection, and the
// peer's code identity.
class XPCConnectionType {
public:
  virtual ~XPCConnectionType() = default;

  virtual const XPCIdentifier<XPCConnectionType>& uuid() const = 0;
  // "Connection<" + identifier + ">".
  virtual std::string description() const = 0;

  // The incoming requests; fails with the connection's XPCConnectionError when it ends. Values
  // arrive on the transport's threads, several at once when the peer sends several calls, so
  // that one slow request never holds back the next (flatMap tolerates this).
  virtual platform::reactive::AnyPublisher<XPCRequest> requests() = 0;
  // The one error that ends the connection, then finished.
  virtual platform::reactive::AnyPublisher<XPCConnectionError> errors() = 0;
  // The peer's code identity; throws SecurityErrors.
  virtual XPCCredentials credentials() = 0;
  // Sends `message` and publishes the one reply; fails with `timeout` after `timeout`, with
  // the XPCConnectionError when the connection ends meanwhile. Every subscription sends anew.
  virtual platform::reactive::AnyPublisher<XPCMessage> send(XPCMessage message,
                                                            std::chrono::milliseconds timeout) = 0;
  // send() with the calling thread waiting for the reply: returns it (its descriptors in
  // `attachments`) or throws what send() fails with. Connections that can read their transport
  // on the waiting thread do so, which saves a thread hand-off per call.
  virtual XPCMessage sendAndWait(XPCMessage message, std::chrono::milliseconds timeout);
  // Sends already encoded message bytes without a reply ("sendWithRawMessage:").
  virtual void sendWithoutReply(const platform::Bytes& bytes) = 0;
  virtual const XPCMessageEncoderType& encoder() const = 0;

  // Starts the flow of messages; the owner calls it after subscribing to requests().
  virtual void activate() = 0;
  virtual void invalidate() = 0;
  // Called once the peer has passed the handshake: lifts the limits that hold before it.
  virtual void markHandshaken() {}
  // The peer's process, user and executable (no signing identifier: the handshake adds it);
  // empty where the connection does not know.
  virtual ClientIdentity clientIdentity() const { return {}; }
};

using AnyXPCConnection = std::shared_ptr<XPCConnectionType>;

} // namespace ipc
