#pragma once

#include "api/PrivilegedOperationRequest.h"
#include "platform/foundation/JSONCoding.h"
#include "platform/foundation/URL.h"

#include <string_view>

namespace api {

// Whether an item exists at the URL's path.
struct FileExistsRequest {
  static constexpr std::string_view reflectingName =
      "PrivilegedOperationServiceAPI.FileExistsRequest";
  static constexpr RequestConformance conformance = RequestConformance::privilegedOperation;
  using ResponseType = bool;

  platform::URL url;

  bool operator==(const FileExistsRequest&) const = default;

  platform::json::Value encodeJSON() const {
    platform::json::Value object = platform::json::Value::object();
    object["url"] = platform::json::encode(url);
    return object;
  }
  static FileExistsRequest decodeJSON(const platform::json::Decoder& decoder) {
    FileExistsRequest request;
    request.url = decoder.decode<platform::URL>("url");
    return request;
  }
};

} // namespace api
