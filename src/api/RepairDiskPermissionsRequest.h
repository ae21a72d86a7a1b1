#pragma once

#include "api/PrivilegedOperationRequest.h"
#include "platform/foundation/JSONCoding.h"

#include <string>
#include <string_view>

namespace api {

// Repairs a user's permissions. Served as a sequence of Bool values, one per step, so it
// conforms to neither request protocol and is not equatable.
struct RepairDiskPermissionsRequest {
  static constexpr std::string_view reflectingName =
      "PrivilegedOperationServiceAPI.RepairDiskPermissionsRequest";
  static constexpr RequestConformance conformance = RequestConformance::none;
  // The type of each element of the sequence.
  using ResponseType = bool;

  std::string userId;

  platform::json::Value encodeJSON() const {
    platform::json::Value object = platform::json::Value::object();
    object["userId"] = platform::json::encode(userId);
    return object;
  }
  static RepairDiskPermissionsRequest decodeJSON(const platform::json::Decoder& decoder) {
    RepairDiskPermissionsRequest request;
    request.userId = decoder.decode<std::string>("userId");
    return request;
  }
};

} // namespace api
