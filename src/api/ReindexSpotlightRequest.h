#pragma once

#include "api/PrivilegedOperationRequest.h"
#include "platform/foundation/JSONCoding.h"

#include <string_view>

namespace api {

// Re-indexes the search index.
struct ReindexSpotlightRequest {
  static constexpr std::string_view reflectingName =
      "PrivilegedOperationServiceAPI.ReindexSpotlightRequest";
  static constexpr RequestConformance conformance = RequestConformance::privilegedOperation;
  using ResponseType = bool;

  bool operator==(const ReindexSpotlightRequest&) const = default;

  platform::json::Value encodeJSON() const { return platform::json::Value::object(); }
  static ReindexSpotlightRequest decodeJSON(const platform::json::Decoder& decoder) {
    decoder.requireObject();
    return {};
  }
};

} // namespace api
