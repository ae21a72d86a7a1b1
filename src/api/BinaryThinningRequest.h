#pragma once

#include "api/PrivilegedOperationRequest.h"
#include "platform/foundation/JSONCoding.h"
#include "platform/foundation/URL.h"

#include <string>
#include <string_view>

namespace api {

// Rewrites a universal executable so that only one architecture's slice remains.
struct BinaryThinningRequest {
  static constexpr std::string_view reflectingName =
      "PrivilegedOperationServiceAPI.BinaryThinningRequest";
  static constexpr RequestConformance conformance = RequestConformance::privilegedOperation;
  using ResponseType = bool;

  platform::URL url;
  std::string compatibleArchitecture;

  bool operator==(const BinaryThinningRequest&) const = default;

  platform::json::Value encodeJSON() const {
    platform::json::Value object = platform::json::Value::object();
    object["url"] = platform::json::encode(url);
    object["compatibleArchitecture"] = platform::json::encode(compatibleArchitecture);
    return object;
  }
  static BinaryThinningRequest decodeJSON(const platform::json::Decoder& decoder) {
    BinaryThinningRequest request;
    request.url = decoder.decode<platform::URL>("url");
    request.compatibleArchitecture = decoder.decode<std::string>("compatibleArchitecture");
    return request;
  }
};

} // namespace api
