#pragma once

#include "api/PrivilegedOperationRequest.h"
#include "platform/foundation/JSONCoding.h"

#include <string>
#include <string_view>

namespace api {

// Moves an item; unlike the other file requests it carries plain paths, not URLs.
struct FileMoveRequest {
  static constexpr std::string_view reflectingName =
      "PrivilegedOperationServiceAPI.FileMoveRequest";
  static constexpr RequestConformance conformance = RequestConformance::privilegedOperation;
  using ResponseType = bool;

  std::string source;
  std::string destination;

  bool operator==(const FileMoveRequest&) const = default;

  platform::json::Value encodeJSON() const {
    platform::json::Value object = platform::json::Value::object();
    object["source"] = platform::json::encode(source);
    object["destination"] = platform::json::encode(destination);
    return object;
  }
  static FileMoveRequest decodeJSON(const platform::json::Decoder& decoder) {
    FileMoveRequest request;
    request.source = decoder.decode<std::string>("source");
    request.destination = decoder.decode<std::string>("destination");
    return request;
  }
};

} // namespace api
