#pragma once

#include "ipc/XPCIdentifier.h"
#include "ipc/XPCMessage.h"

#include <functional>

namespace ipc {

// One message received on a connection, as handed to the server side.
struct XPCRequest {
  // Encodes its argument and hands the bytes to the sender's reply block; does nothing when the
  // sender supplied none. Takes the message, so that a large reply can be freed while encoding.
  using ReplyHandler = std::function<void(XPCMessage)>;

  XPCIdentifier<XPCRequest> uid;
  XPCMessage message;
  bool needsReply = false;
  ReplyHandler replyHandler;
};

} // namespace ipc
