#pragma once

#include "platform/foundation/JSONCoding.h"
#include "platform/foundation/NSError.h"

#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

namespace api {

// The error domain under which a client sees every failed operation.
inline constexpr const char* kPrivilegedOperationErrorDomain =
    "com.quillby.lumora.PrivilegedOperationError";
// The user-information key that keeps the underlying error's domain.
inline constexpr const char* kPrivilegedOperationErrorOriginalDomainKey =
    "PrivilegedOperationErrorOriginalDomain";

// The one error record that a failed operation returns to a client: every failure, whatever its
// origin, is flattened into its code, domain and localized description.
class PrivilegedOperationError : public platform::BridgedError {
public:
  static constexpr std::string_view reflectingName =
      "PrivilegedOperationServiceAPI.PrivilegedOperationError";

  PrivilegedOperationError(int64_t code, std::string domain, std::string description)
      : code(code), domain(std::move(domain)), description(std::move(description)) {}

  // Any failure as a record: a PrivilegedOperationError is taken unchanged, anything else is
  // bridged to its platform error form first.
  static PrivilegedOperationError from(const platform::NSError& error);
  static PrivilegedOperationError from(const std::exception& error);
  static PrivilegedOperationError from(const std::exception_ptr& error);

  int64_t code;
  std::string domain;
  std::string description;

  // Domain kPrivilegedOperationErrorDomain, the same code, the description as localized
  // description and the original domain under kPrivilegedOperationErrorOriginalDomainKey.
  platform::NSError toNSError() const override;

  bool operator==(const PrivilegedOperationError& other) const {
    return code == other.code && domain == other.domain && description == other.description;
  }

  platform::json::Value encodeJSON() const;
  static PrivilegedOperationError decodeJSON(const platform::json::Decoder& decoder);
};

} // namespace api
