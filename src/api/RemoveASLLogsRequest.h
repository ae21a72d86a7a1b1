#pragma once

#include "api/PrivilegedOperationRequest.h"
#include "platform/foundation/JSONCoding.h"

#include <string_view>

namespace api {

// Removes the ASL logs.
struct RemoveASLLogsRequest {
  static constexpr std::string_view reflectingName =
      "PrivilegedOperationServiceAPI.RemoveASLLogsRequest";
  static constexpr RequestConformance conformance = RequestConformance::privilegedOperation;
  using ResponseType = bool;

  bool operator==(const RemoveASLLogsRequest&) const = default;

  platform::json::Value encodeJSON() const { return platform::json::Value::object(); }
  static RemoveASLLogsRequest decodeJSON(const platform::json::Decoder& decoder) {
    decoder.requireObject();
    return {};
  }
};

} // namespace api
