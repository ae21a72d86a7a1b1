#pragma once

#include "platform/foundation/JSONCoding.h"

#include <string_view>

namespace api {

// The answer to a request that has nothing to report: the empty object.
struct EmptyResponse {
  static constexpr std::string_view reflectingName = "PrivilegedOperationServiceAPI.EmptyResponse";

  bool operator==(const EmptyResponse&) const = default;

  platform::json::Value encodeJSON() const { return platform::json::Value::object(); }
  static EmptyResponse decodeJSON(const platform::json::Decoder& decoder) {
    decoder.requireObject();
    return {};
  }
};

} // namespace api
