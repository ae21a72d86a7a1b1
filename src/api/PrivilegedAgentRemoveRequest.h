#pragma once

#include "api/PrivilegedOperationRequest.h"
#include "platform/foundation/JSONCoding.h"

#include <string_view>

namespace api {

// Asks the agent to remove its executable and job file, then end.
struct PrivilegedAgentRemoveRequest {
  static constexpr std::string_view reflectingName =
      "PrivilegedOperationServiceAPI.PrivilegedAgentRemoveRequest";
  static constexpr RequestConformance conformance = RequestConformance::emptyPrivilegedOperation;
  using ResponseType = EmptyResponse;

  bool operator==(const PrivilegedAgentRemoveRequest&) const = default;

  platform::json::Value encodeJSON() const { return platform::json::Value::object(); }
  static PrivilegedAgentRemoveRequest decodeJSON(const platform::json::Decoder& decoder) {
    decoder.requireObject();
    return {};
  }
};

} // namespace api
