#pragma once

#include "api/PrivilegedOperationRequest.h"
#include "platform/foundation/Base64.h"
#include "platform/foundation/JSONCoding.h"

#include <string_view>

namespace api {

// Runs an archived task object; the answer is an archived result object.
struct PrivilegedAccessTaskRequest {
  static constexpr std::string_view reflectingName =
      "PrivilegedOperationServiceAPI.PrivilegedAccessTaskRequest";
  static constexpr RequestConformance conformance = RequestConformance::privilegedOperation;
  using ResponseType = platform::Bytes;

  platform::Bytes taskData;

  bool operator==(const PrivilegedAccessTaskRequest&) const = default;

  platform::json::Value encodeJSON() const {
    platform::json::Value object = platform::json::Value::object();
    object["taskData"] = platform::json::encode(taskData);
    return object;
  }
  static PrivilegedAccessTaskRequest decodeJSON(const platform::json::Decoder& decoder) {
    PrivilegedAccessTaskRequest request;
    request.taskData = decoder.decode<platform::Bytes>("taskData");
    return request;
  }
};

} // namespace api
