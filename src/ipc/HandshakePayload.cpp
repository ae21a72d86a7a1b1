#include "ipc/HandshakePayload.h"

namespace ipc {

platform::json::Value HandshakePayload::encodeJSON() const {
  platform::json::Value object = platform::json::Value::object();
  object["bundleURL"] = bundleURL.absoluteString();
  object["bundleID"] = bundleID;
  object["version"] = version;
  object["bookmark"] = platform::base64Encode(bookmark);
  return object;
}

HandshakePayload HandshakePayload::decodeJSON(const platform::json::Decoder& decoder) {
  HandshakePayload payload;
  payload.bundleURL = decoder.decode<platform::URL>("bundleURL");
  payload.bundleID = decoder.decode<std::string>("bundleID");
  payload.version = decoder.decode<std::string>("version");
  payload.bookmark = decoder.decode<platform::Bytes>("bookmark");
  return payload;
}

} // namespace ipc
