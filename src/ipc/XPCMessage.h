#pragma once

#include "ipc/ReplyAttachments.h"
#include "ipc/XPCMessageFlag.h"
#include "ipc/XPCProtocolError.h"
#include "platform/foundation/Base64.h"
#include "platform/foundation/JSONCoding.h"
#include "platform/foundation/UUID.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ipc {

// The protocol version every message carries; there is no negotiation.
inline constexpr int64_t kXPCProtocolVersion = 1;

// The one record of the protocol: handshakes, requests, replies, error replies and the control
// messages of request sequences. On the wire it is a JSON object with sorted keys; absent
// optionals leave no key.
struct XPCMessage {
  using Flag = XPCMessageFlag;

  // A value's JSON bytes and the wire name of its type.
  struct BinaryPayload {
    std::string encodedType;
    platform::Bytes data;

    bool operator==(const BinaryPayload&) const = default;

    platform::json::Value encodeJSON() const;
    static BinaryPayload decodeJSON(const platform::json::Decoder& decoder);
  };

  static constexpr std::string_view reflectingName = "IPCProtocol_Static.XPCMessage";

  int64_t version = kXPCProtocolVersion;
  Flag flags;
  std::optional<BinaryPayload> binaryPayload;
  std::optional<XPCProtocolError> error;
  std::optional<platform::UUID> sequenceID;
  // The descriptors that arrived with this message (not part of its bytes, nor of equality).
  // They ride along with the decoded message so that whichever thread hands the answer to the
  // sender's subscriber can make them current there.
  std::shared_ptr<ReplyAttachments::Descriptors> attachments;

  // An empty positive answer (flags 2).
  static XPCMessage acknowledge();
  // An error reply: flags 8, or 9 with the sequence it ends.
  static XPCMessage errorReply(XPCProtocolError error,
                               std::optional<platform::UUID> sequenceID = std::nullopt);

  bool operator==(const XPCMessage& other) const {
    return version == other.version && flags == other.flags &&
           binaryPayload == other.binaryPayload && error == other.error &&
           sequenceID == other.sequenceID;
  }

  platform::json::Value encodeJSON() const;
  // Reads "version" before anything else: a version other than 1 throws
  // `protocolVersionMismatch` whatever the rest holds. Unknown keys are ignored.
  static XPCMessage decodeJSON(const platform::json::Decoder& decoder);
};

} // namespace ipc
