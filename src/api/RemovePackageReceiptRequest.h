#pragma once

#include "api/PrivilegedOperationRequest.h"
#include "platform/foundation/JSONCoding.h"

#include <string>
#include <string_view>

namespace api {

// Forgets the receipt of an installed package.
struct RemovePackageReceiptRequest {
  static constexpr std::string_view reflectingName =
      "PrivilegedOperationServiceAPI.RemovePackageReceiptRequest";
  static constexpr RequestConformance conformance = RequestConformance::emptyPrivilegedOperation;
  using ResponseType = EmptyResponse;

  std::string packageID;

  bool operator==(const RemovePackageReceiptRequest&) const = default;

  platform::json::Value encodeJSON() const {
    platform::json::Value object = platform::json::Value::object();
    object["packageID"] = platform::json::encode(packageID);
    return object;
  }
  static RemovePackageReceiptRequest decodeJSON(const platform::json::Decoder& decoder) {
    RemovePackageReceiptRequest request;
    request.packageID = decoder.decode<std::string>("packageID");
    return request;
  }
};

} // namespace api
