#include "api/PrivilegedOperationError.h"

#include "platform/foundation/ValidUTF8.h"

namespace api {

PrivilegedOperationError PrivilegedOperationError::from(const platform::NSError& error) {
  // The record travels as JSON, so its texts are made valid UTF-8 here, where they enter.
  return PrivilegedOperationError(error.code(), platform::repairingInvalidUTF8(error.domain()),
                                  platform::repairingInvalidUTF8(error.localizedDescription()));
}

PrivilegedOperationError PrivilegedOperationError::from(const std::exception& error) {
  if (auto* record = dynamic_cast<const PrivilegedOperationError*>(&error)) {
    return *record;
  }
  return from(platform::bridgeToNSError(error));
}

PrivilegedOperationError PrivilegedOperationError::from(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& caught) {
    return from(caught);
  } catch (...) {
    return from(platform::bridgeToNSError(std::current_exception()));
  }
}

platform::NSError PrivilegedOperationError::toNSError() const {
  return platform::NSError(kPrivilegedOperationErrorDomain, code,
                           {{platform::NSLocalizedDescriptionKey, description},
                            {kPrivilegedOperationErrorOriginalDomainKey, domain}});
}

platform::json::Value PrivilegedOperationError::encodeJSON() const {
  platform::json::Value object = platform::json::Value::object();
  object["code"] = code;
  object["domain"] = domain;
  object["description"] = description;
  return object;
}

PrivilegedOperationError
PrivilegedOperationError::decodeJSON(const platform::json::Decoder& decoder) {
  auto code = decoder.decode<int64_t>("code");
  auto domain = decoder.decode<std::string>("domain");
  return PrivilegedOperationError(code, std::move(domain),
                                  decoder.decode<std::string>("description"));
}

} // namespace api
