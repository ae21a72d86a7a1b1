#pragma once

#include "api/PrivilegedOperationRequest.h"
#include "platform/foundation/JSONCoding.h"

#include <string_view>

namespace api {

// Flushes the DNS cache.
struct FlushDNSCacheRequest {
  static constexpr std::string_view reflectingName =
      "PrivilegedOperationServiceAPI.FlushDNSCacheRequest";
  static constexpr RequestConformance conformance = RequestConformance::privilegedOperation;
  using ResponseType = bool;

  bool operator==(const FlushDNSCacheRequest&) const = default;

  platform::json::Value encodeJSON() const { return platform::json::Value::object(); }
  static FlushDNSCacheRequest decodeJSON(const platform::json::Decoder& decoder) {
    decoder.requireObject();
    return {};
  }
};

} // namespace api
