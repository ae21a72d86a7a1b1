#pragma once

#include "api/PrivilegedOperationRequest.h"
#include "platform/foundation/JSONCoding.h"

#include <string_view>

namespace api {

// Removes the diagnostic logs.
struct RemoveDiagnosticsLogsRequest {
  static constexpr std::string_view reflectingName =
      "PrivilegedOperationServiceAPI.RemoveDiagnosticsLogsRequest";
  static constexpr RequestConformance conformance = RequestConformance::privilegedOperation;
  using ResponseType = bool;

  bool operator==(const RemoveDiagnosticsLogsRequest&) const = default;

  platform::json::Value encodeJSON() const { return platform::json::Value::object(); }
  static RemoveDiagnosticsLogsRequest decodeJSON(const platform::json::Decoder& decoder) {
    decoder.requireObject();
    return {};
  }
};

} // namespace api
