#pragma once

#include "api/PrivilegedOperationRequest.h"
#include "platform/foundation/JSONCoding.h"
#include "platform/foundation/URL.h"

#include <string_view>

namespace api {

// Truncates the file at the URL's path to zero length.
struct TruncateFileRequest {
  static constexpr std::string_view reflectingName =
      "PrivilegedOperationServiceAPI.TruncateFileRequest";
  static constexpr RequestConformance conformance = RequestConformance::privilegedOperation;
  using ResponseType = bool;

  platform::URL url;

  bool operator==(const TruncateFileRequest&) const = default;

  platform::json::Value encodeJSON() const {
    platform::json::Value object = platform::json::Value::object();
    object["url"] = platform::json::encode(url);
    return object;
  }
  static TruncateFileRequest decodeJSON(const platform::json::Decoder& decoder) {
    TruncateFileRequest request;
    request.url = decoder.decode<platform::URL>("url");
    return request;
  }
};

} // namespace api
