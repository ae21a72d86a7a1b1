#pragma once

#include "platform/foundation/Date.h"
#include "platform/foundation/JSONCoding.h"

#include <string>
#include <string_view>

namespace api {

// The agent's answer to a health check: the current time and its own version.
struct HealthCheckResponse {
  static constexpr std::string_view reflectingName =
      "PrivilegedOperationServiceAPI.HealthCheckResponse";

  platform::Date timestamp;
  std::string version;

  bool operator==(const HealthCheckResponse&) const = default;

  platform::json::Value encodeJSON() const {
    platform::json::Value object = platform::json::Value::object();
    object["timestamp"] = platform::json::encode(timestamp);
    object["version"] = version;
    return object;
  }
  static HealthCheckResponse decodeJSON(const platform::json::Decoder& decoder) {
    return {decoder.decode<platform::Date>("timestamp"), decoder.decode<std::string>("version")};
  }
};

} // namespace api
