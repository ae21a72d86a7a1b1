#pragma once

#include "ipc/XPCMessage.h"
#include "platform/foundation/Base64.h"

#include <string_view>

namespace ipc {

// Turns messages into the bytes that travel over a connection and back.
class XPCMessageEncoderType {
public:
  virtual ~XPCMessageEncoderType() = default;

  // Throws XPCProtocolError (`mailformedTransportMessage`).
  virtual platform::Bytes encode(const XPCMessage& message) const = 0;
  // Throws XPCProtocolError: `protocolVersionMismatch` for a version other than 1,
  // `mailformedTransportMessage` for anything else that does not decode.
  virtual XPCMessage decode(std::string_view bytes) const = 0;

  XPCMessage decode(const platform::Bytes& bytes) const {
    return decode(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  }
};

} // namespace ipc
