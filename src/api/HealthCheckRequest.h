#pragma once

#include "api/HealthCheckResponse.h"
#include "api/PrivilegedOperationRequest.h"
#include "platform/foundation/JSONCoding.h"

#include <string_view>

namespace api {

// Asks whether the agent is alive and which version it is.
struct HealthCheckRequest {
  static constexpr std::string_view reflectingName =
      "PrivilegedOperationServiceAPI.HealthCheckRequest";
  static constexpr RequestConformance conformance = RequestConformance::privilegedOperation;
  using ResponseType = HealthCheckResponse;

  bool operator==(const HealthCheckRequest&) const = default;

  platform::json::Value encodeJSON() const { return platform::json::Value::object(); }
  static HealthCheckRequest decodeJSON(const platform::json::Decoder& decoder) {
    decoder.requireObject();
    return {};
  }
};

} // namespace api
