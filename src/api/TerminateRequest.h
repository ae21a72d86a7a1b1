#pragma once

#include "api/PrivilegedOperationRequest.h"
#include "platform/foundation/JSONCoding.h"

#include <string_view>

namespace api {

// Asks the agent to end its process after answering.
struct TerminateRequest {
  static constexpr std::string_view reflectingName =
      "PrivilegedOperationServiceAPI.TerminateRequest";
  static constexpr RequestConformance conformance = RequestConformance::emptyPrivilegedOperation;
  using ResponseType = EmptyResponse;

  bool operator==(const TerminateRequest&) const = default;

  platform::json::Value encodeJSON() const { return platform::json::Value::object(); }
  static TerminateRequest decodeJSON(const platform::json::Decoder& decoder) {
    decoder.requireObject();
    return {};
  }
};

} // namespace api
