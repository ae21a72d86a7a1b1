#pragma once

#include "ipc/XPCIdentifier.h"
#include "platform/foundation/NSError.h"

#include <string>
#include <string_view>

namespace ipc {

// The local error of a connection that has ended. It never travels: it ends the connection's
// request stream and every pending send.
class XPCConnectionError : public platform::BridgedError {
public:
  enum class Reason {
    invalidated,        // the connection was invalidated or interrupted
    connectionInsecure, // the system rejected the peer's code signature
  };

  static constexpr std::string_view reflectingName = "IPCProtocol_Static.XPCConnectionError";

  XPCConnectionError(XPCIdentifier<XPCConnectionType> connectionUID, Reason reason)
      : connectionUID(connectionUID), reason(reason) {}

  XPCIdentifier<XPCConnectionType> connectionUID;
  Reason reason;

  // The text that log lines show.
  std::string description() const {
    return "XPCConnectionError(connectionUID: " + connectionUID.description() +
           ", reason: IPCProtocol_Static.XPCConnectionError.Reason." +
           (reason == Reason::invalidated ? "invalidated" : "connectionInsecure") + ")";
  }

  // A record type without a domain of its own bridges with code 1.
  platform::NSError toNSError() const override {
    return platform::NSError::bridged(std::string(reflectingName), 1);
  }

  bool operator==(const XPCConnectionError& other) const {
    return connectionUID == other.connectionUID && reason == other.reason;
  }
};

} // namespace ipc
