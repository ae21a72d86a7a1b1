#pragma once

#include "platform/foundation/JSONCoding.h"
#include "platform/foundation/UUID.h"

#include <functional>
#include <string>

namespace ipc {

// Tag of the identifiers that name one connection; the connection interface itself lives with
// the connection code.
class XPCConnectionType;

// A UUID typed by what it names, so that identifiers of different things cannot be mixed up.
// The tag is never stored. On the wire: {"rawValue": "<UUID>"}.
template <class Tag> struct XPCIdentifier {
  platform::UUID rawValue;

  // A fresh random identifier.
  XPCIdentifier() = default;
  explicit XPCIdentifier(const platform::UUID& uuid) : rawValue(uuid) {}

  std::string description() const { return rawValue.uuidString(); }

  bool operator==(const XPCIdentifier&) const = default;
  auto operator<=>(const XPCIdentifier&) const = default;

  platform::json::Value encodeJSON() const {
    platform::json::Value object = platform::json::Value::object();
    object["rawValue"] = rawValue.uuidString();
    return object;
  }
  static XPCIdentifier decodeJSON(const platform::json::Decoder& decoder) {
    return XPCIdentifier(decoder.decode<platform::UUID>("rawValue"));
  }
};

} // namespace ipc

template <class Tag> struct std::hash<ipc::XPCIdentifier<Tag>> {
  size_t operator()(const ipc::XPCIdentifier<Tag>& identifier) const noexcept {
    return std::hash<platform::UUID>()(identifier.rawValue);
  }
};
