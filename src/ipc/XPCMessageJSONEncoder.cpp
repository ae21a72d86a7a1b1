#include "ipc/XPCMessageJSONEncoder.h"

namespace ipc {

namespace {

[[noreturn]] void throwEncodingFailure() {
  throw XPCProtocolError::mailformedTransportMessage(
      platform::bridgeToNSError(std::current_exception()).localizedDescription());
}

} // namespace

platform::Bytes XPCMessageJSONEncoder::encode(const XPCMessage& message) const {
  try {
    return platform::json::writeBytes(platform::json::Coding<XPCMessage>::encode(message));
  } catch (...) {
    throwEncodingFailure();
  }
}

platform::Bytes XPCMessageJSONEncoder::encode(XPCMessage&& message) const {
  try {
    const platform::json::Value document = platform::json::Coding<XPCMessage>::encode(message);
    message = XPCMessage();
    return platform::json::writeBytes(document);
  } catch (...) {
    throwEncodingFailure();
  }
}

XPCMessage XPCMessageJSONEncoder::decode(std::string_view bytes) const {
  try {
    return decoder_.decode<XPCMessage>(bytes);
  } catch (const XPCProtocolError&) {
    throw;
  } catch (...) {
    throw XPCProtocolError::mailformedTransportMessage(
        platform::bridgeToNSError(std::current_exception()).localizedDescription());
  }
}

} // namespace ipc
