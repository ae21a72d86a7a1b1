#include "ipc/XPCMessage.h"

namespace ipc {

using platform::json::Decoder;
using platform::json::Value;

Value XPCMessage::BinaryPayload::encodeJSON() const {
  Value object = Value::object();
  object["data"] = platform::base64Encode(data);
  object["encodedType"] = encodedType;
  return object;
}

XPCMessage::BinaryPayload XPCMessage::BinaryPayload::decodeJSON(const Decoder& decoder) {
  BinaryPayload payload;
  payload.data = decoder.decode<platform::Bytes>("data");
  payload.encodedType = decoder.decode<std::string>("encodedType");
  return payload;
}

XPCMessage XPCMessage::acknowledge() {
  XPCMessage message;
  message.flags = Flag::acknowledge();
  return message;
}

XPCMessage XPCMessage::errorReply(XPCProtocolError error,
                                  std::optional<platform::UUID> sequenceID) {
  XPCMessage message;
  message.flags = sequenceID ? Flag::sequence() | Flag::error() : Flag::error();
  message.error = std::move(error);
  message.sequenceID = sequenceID;
  return message;
}

Value XPCMessage::encodeJSON() const {
  Value object = Value::object();
  object["version"] = version;
  object["flags"] = flags.rawValue;
  if (binaryPayload) {
    object["binaryPayload"] = binaryPayload->encodeJSON();
  }
  if (error) {
    object["error"] = error->encodeJSON();
  }
  if (sequenceID) {
    object["sequenceID"] = sequenceID->uuidString();
  }
  return object;
}

XPCMessage XPCMessage::decodeJSON(const Decoder& decoder) {
  auto version = decoder.decode<int64_t>("version");
  if (version != kXPCProtocolVersion) {
    throw XPCProtocolError::protocolVersionMismatch(version);
  }
  XPCMessage message;
  message.flags = Flag{decoder.decode<uint32_t>("flags")};
  message.binaryPayload = decoder.decodeIfPresent<BinaryPayload>("binaryPayload");
  message.error = decoder.decodeIfPresent<XPCProtocolError>("error");
  message.sequenceID = decoder.decodeIfPresent<platform::UUID>("sequenceID");
  return message;
}

} // namespace ipc
