#pragma once

#include "ipc/PayloadTypeName.h"
#include "ipc/XPCMessage.h"
#include "ipc/XPCProtocolError.h"
#include "platform/foundation/JSONCoding.h"

#include <string>
#include <string_view>

namespace ipc {

// Wraps request and response values into messages under their wire type name, and unwraps a
// payload only into the type whose name it carries. Coding failures pass through unchanged;
// callers convert them before they put them into a message.
class XPCMessageMapper {
public:
  XPCMessageMapper()
      : encoder_(platform::sharedJSONEncoder()), decoder_(platform::sharedJSONDecoder()) {}
  XPCMessageMapper(const platform::json::JSONEncoder& encoder,
                   const platform::json::JSONDecoder& decoder)
      : encoder_(encoder), decoder_(decoder) {}

  template <class T> XPCMessage::BinaryPayload makeBinaryPayload(const T& value) const {
    std::string text = encoder_.encode(value);
    return {payloadTypeName<T>(), platform::Bytes(text.begin(), text.end())};
  }

  // A message with flags `payload` carrying `value`.
  template <class T> XPCMessage makeMessage(const T& value) const {
    XPCMessage message;
    message.flags = XPCMessage::Flag::payload();
    message.binaryPayload = makeBinaryPayload(value);
    return message;
  }

  // A message with flags `sequence` + `payload` carrying `value` for the sequence named.
  template <class T>
  XPCMessage makeMessage(const T& value, const platform::UUID& sequenceID) const {
    XPCMessage message = makeMessage(value);
    message.flags = XPCMessage::Flag::sequence() | XPCMessage::Flag::payload();
    message.sequenceID = sequenceID;
    return message;
  }

  // The payload of `message` as T. Throws `missingPayload`, `invalidPayloadType` (the names are
  // compared exactly, before the bytes are touched), or the decoder's failure unchanged. The
  // flags are not looked at: callers validate first.
  template <class T> T decodePayload(const XPCMessage& message) const {
    if (!message.binaryPayload) {
      throw XPCProtocolError::missingPayload();
    }
    const XPCMessage::BinaryPayload& payload = *message.binaryPayload;
    const std::string& expected = payloadTypeName<T>();
    if (payload.encodedType != expected) {
      throw XPCProtocolError::invalidPayloadType(payload.encodedType, expected);
    }
    return decoder_.decode<T>(
        std::string_view(reinterpret_cast<const char*>(payload.data.data()), payload.data.size()));
  }

private:
  const platform::json::JSONEncoder& encoder_;
  const platform::json::JSONDecoder& decoder_;
};

} // namespace ipc
