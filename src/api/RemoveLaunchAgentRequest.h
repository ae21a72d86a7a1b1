#pragma once

#include "api/PrivilegedOperationRequest.h"
#include "platform/foundation/JSONCoding.h"
#include "platform/foundation/URL.h"

#include <string_view>

namespace api {

// Unloads and removes a launch agent or daemon with its helper tool.
struct RemoveLaunchAgentRequest {
  static constexpr std::string_view reflectingName =
      "PrivilegedOperationServiceAPI.RemoveLaunchAgentRequest";
  static constexpr RequestConformance conformance = RequestConformance::privilegedOperation;
  using ResponseType = bool;

  platform::URL url;

  bool operator==(const RemoveLaunchAgentRequest&) const = default;

  platform::json::Value encodeJSON() const {
    platform::json::Value object = platform::json::Value::object();
    object["url"] = platform::json::encode(url);
    return object;
  }
  static RemoveLaunchAgentRequest decodeJSON(const platform::json::Decoder& decoder) {
    RemoveLaunchAgentRequest request;
    request.url = decoder.decode<platform::URL>("url");
    return request;
  }
};

} // namespace api
