#pragma once

#include "api/PrivilegedOperationRequest.h"
#include "platform/foundation/JSONCoding.h"
#include "platform/foundation/URL.h"

#include <cstdint>
#include <string_view>

namespace api {

// The size in bytes of the item at the URL's path.
struct FileSizeRequest {
  static constexpr std::string_view reflectingName =
      "PrivilegedOperationServiceAPI.FileSizeRequest";
  static constexpr RequestConformance conformance = RequestConformance::privilegedOperation;
  using ResponseType = uint64_t;

  platform::URL url;

  bool operator==(const FileSizeRequest&) const = default;

  platform::json::Value encodeJSON() const {
    platform::json::Value object = platform::json::Value::object();
    object["url"] = platform::json::encode(url);
    return object;
  }
  static FileSizeRequest decodeJSON(const platform::json::Decoder& decoder) {
    FileSizeRequest request;
    request.url = decoder.decode<platform::URL>("url");
    return request;
  }
};

} // namespace api
