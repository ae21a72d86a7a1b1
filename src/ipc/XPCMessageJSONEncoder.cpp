#include "ipc/XPCMessageJSONEncoder.h"

namespace ipc {

platform::Bytes XPCMessageJSONEncoder::encode(const XPCMessage& message) const {
  try {
    std::string text = encoder_.encode(message);
    return platform::Bytes(text.begin(), text.end());
  } catch (...) {
    throw XPCProtocolError::mailformedTransportMessage(
        platform::bridgeToNSError(std::current_exception()).localizedDescription());
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
