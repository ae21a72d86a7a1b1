#pragma once

#include "api/PrivilegedOperationRequest.h"
#include "platform/foundation/JSONCoding.h"
#include "platform/foundation/URL.h"

#include <string_view>

namespace api {

// Removes a broken startup item. The plural in the name is what clients send.
struct RemoveBrokenStartupItemRequests {
  static constexpr std::string_view reflectingName =
      "PrivilegedOperationServiceAPI.RemoveBrokenStartupItemRequests";
  static constexpr RequestConformance conformance = RequestConformance::privilegedOperation;
  using ResponseType = bool;

  platform::URL url;

  bool operator==(const RemoveBrokenStartupItemRequests&) const = default;

  platform::json::Value encodeJSON() const {
    platform::json::Value object = platform::json::Value::object();
    object["url"] = platform::json::encode(url);
    return object;
  }
  static RemoveBrokenStartupItemRequests decodeJSON(const platform::json::Decoder& decoder) {
    RemoveBrokenStartupItemRequests request;
    request.url = decoder.decode<platform::URL>("url");
    return request;
  }
};

} // namespace api
