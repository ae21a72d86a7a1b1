#include "platform/xpc/TransportError.h"

#include <memory>

namespace platform::xpc {

NSError makeTransportError(TransportErrorCode code, std::string description, int errnoValue) {
  UserInfo userInfo{{NSLocalizedDescriptionKey, std::move(description)}};
  if (errnoValue != 0) {
    userInfo.emplace(NSUnderlyingErrorKey,
                     std::make_shared<const NSError>(NSError::posix(errnoValue)));
  }
  return NSError(TransportErrorDomain, static_cast<int64_t>(code), std::move(userInfo));
}

} // namespace platform::xpc
