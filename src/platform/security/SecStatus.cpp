#include "platform/security/SecStatus.h"

namespace platform::security {

std::string SecStatus::description() const {
  if (ok()) {
    return "success";
  }
  return message_ + " (OSStatus " + std::to_string(code_) + ")";
}

NSError SecStatus::toNSError() const {
  UserInfo info;
  if (!message_.empty()) {
    info[NSLocalizedDescriptionKey] = message_;
  }
  return NSError(NSOSStatusErrorDomain, code_, std::move(info));
}

} // namespace platform::security
