#pragma once

#include "api/PrivilegedOperationRequest.h"
#include "platform/foundation/JSONCoding.h"
#include "platform/foundation/URL.h"

#include <string_view>

namespace api {

// Removes the item at the URL's path, also when it is locked or immutable.
struct RemoveFileRequest {
  static constexpr std::string_view reflectingName =
      "PrivilegedOperationServiceAPI.RemoveFileRequest";
  static constexpr RequestConformance conformance = RequestConformance::privilegedOperation;
  using ResponseType = bool;

  platform::URL url;

  bool operator==(const RemoveFileRequest&) const = default;

  platform::json::Value encodeJSON() const {
    platform::json::Value object = platform::json::Value::object();
    object["url"] = platform::json::encode(url);
    return object;
  }
  static RemoveFileRequest decodeJSON(const platform::json::Decoder& decoder) {
    RemoveFileRequest request;
    request.url = decoder.decode<platform::URL>("url");
    return request;
  }
};

} // namespace api
