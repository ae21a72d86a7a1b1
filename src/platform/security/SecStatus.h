#pragma once

#include "platform/foundation/NSError.h"

#include <cstdint>
#include <string>
#include <sys/types.h>

namespace platform::security {

// The platform's status word for code-signing services.
using OSStatus = int32_t;

// The platform's published code-signing statuses that this layer reports.
inline constexpr OSStatus errSecSuccess = 0;
inline constexpr OSStatus errSecCSReqFailed = -67050; // requirement not satisfied
inline constexpr OSStatus errSecCSReqUnsupported =
    -67051; // requirement uses a construct we do not evaluate
inline constexpr OSStatus errSecCSReqInvalid = -67052;      // requirement text does not compile
inline constexpr OSStatus errSecCSSignatureFailed = -67061; // signature present but invalid
inline constexpr OSStatus errSecCSUnsigned = -67062;        // no signature
inline constexpr OSStatus errSecCSGuestInvalid = -67063; // running code found but not trustworthy
inline constexpr OSStatus errSecCSNoSuchCode = -67065;   // the process is gone
inline constexpr OSStatus errSecCSStaticCodeNotFound = -67068; // the file cannot be found or opened

// The outcome of a code-signing call: a status and, when it failed, a message for the logs.
class SecStatus {
public:
  SecStatus() = default;
  SecStatus(OSStatus code, std::string message) : code_(code), message_(std::move(message)) {}

  static SecStatus success() { return SecStatus(); }
  // errSecCSNoSuchCode: the process `pid` has exited (or its number names another one now).
  static SecStatus processGone(pid_t pid) {
    return SecStatus(errSecCSNoSuchCode, "process " + std::to_string(pid) + " is gone");
  }

  bool ok() const { return code_ == errSecSuccess; }
  explicit operator bool() const { return ok(); }
  OSStatus code() const { return code_; }
  const std::string& message() const { return message_; }

  // "<message> (OSStatus <code>)", or "success".
  std::string description() const;
  // The error in the NSOSStatusErrorDomain with the status as code and the message as its
  // description.
  NSError toNSError() const;

private:
  OSStatus code_ = errSecSuccess;
  std::string message_;
};

} // namespace platform::security
