#pragma once

#include "api/PrivilegedOperationRequest.h"
#include "platform/foundation/JSONCoding.h"

#include <string>
#include <string_view>

namespace api {

// Runs one of the periodic maintenance scripts.
struct PeriodicScriptRequest {
  static constexpr std::string_view reflectingName =
      "PrivilegedOperationServiceAPI.PeriodicScriptRequest";
  static constexpr RequestConformance conformance = RequestConformance::privilegedOperation;
  using ResponseType = bool;

  std::string script;

  bool operator==(const PeriodicScriptRequest&) const = default;

  platform::json::Value encodeJSON() const {
    platform::json::Value object = platform::json::Value::object();
    object["script"] = platform::json::encode(script);
    return object;
  }
  static PeriodicScriptRequest decodeJSON(const platform::json::Decoder& decoder) {
    PeriodicScriptRequest request;
    request.script = decoder.decode<std::string>("script");
    return request;
  }
};

} // namespace api
