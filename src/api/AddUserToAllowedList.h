#pragma once

#include "api/PrivilegedOperationRequest.h"
#include "platform/foundation/JSONCoding.h"

#include <cstdint>
#include <string_view>

namespace api {

// Adds a user identifier to the list of allowed users.
struct AddUserToAllowedList {
  static constexpr std::string_view reflectingName =
      "PrivilegedOperationServiceAPI.AddUserToAllowedList";
  static constexpr RequestConformance conformance = RequestConformance::privilegedOperation;
  using ResponseType = bool;

  uint32_t uid;

  bool operator==(const AddUserToAllowedList&) const = default;

  platform::json::Value encodeJSON() const {
    platform::json::Value object = platform::json::Value::object();
    object["uid"] = platform::json::encode(uid);
    return object;
  }
  static AddUserToAllowedList decodeJSON(const platform::json::Decoder& decoder) {
    AddUserToAllowedList request;
    request.uid = decoder.decode<uint32_t>("uid");
    return request;
  }
};

} // namespace api
