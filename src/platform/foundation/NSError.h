#pragma once

#include "platform/foundation/URL.h"

#include <cstdint>
#include <exception>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace platform {

class NSError;

// The platform's standard user-information keys.
inline constexpr const char* NSLocalizedDescriptionKey = "NSLocalizedDescription";
inline constexpr const char* NSLocalizedFailureReasonErrorKey = "NSLocalizedFailureReason";
inline constexpr const char* NSUnderlyingErrorKey = "NSUnderlyingError";
inline constexpr const char* NSFilePathErrorKey = "NSFilePath";
inline constexpr const char* NSURLErrorKey = "NSURL";
inline constexpr const char* NSDebugDescriptionErrorKey = "NSDebugDescription";

// The platform's error domains.
inline constexpr const char* NSCocoaErrorDomain = "NSCocoaErrorDomain";
inline constexpr const char* NSPOSIXErrorDomain = "NSPOSIXErrorDomain";
inline constexpr const char* NSOSStatusErrorDomain = "NSOSStatusErrorDomain";

// Cocoa error codes that the system produces or inspects.
enum CocoaErrorCode : int64_t {
  NSFileNoSuchFileError = 4,
  NSFileLockingError = 255,
  NSFileReadUnknownError = 256,
  NSFileReadNoPermissionError = 257,
  NSFileReadInvalidFileNameError = 258,
  NSFileReadCorruptFileError = 259,
  NSFileReadNoSuchFileError = 260,
  NSFileWriteUnknownError = 512,
  NSFileWriteNoPermissionError = 513,
  NSFileWriteInvalidFileNameError = 514,
  NSFileWriteFileExistsError = 516,
  NSFileWriteOutOfSpaceError = 640,
  NSPropertyListReadCorruptError = 3840,
  NSCoderReadCorruptError = 4864,
  NSCoderValueNotFoundError = 4865,
  NSCoderInvalidValueError = 4866,
};

// A user-information value. Errors nest through shared pointers so that the value stays
// cheap to copy; lists of errors carry collected failures.
using UserInfoValue =
    std::variant<std::string, int64_t, double, bool, URL, std::shared_ptr<const NSError>,
                 std::vector<NSError>, std::vector<std::string>>;
using UserInfo = std::map<std::string, UserInfoValue>;

// The platform error value: a domain, a code and user information. Immutable once built.
class NSError {
public:
  NSError() = default;
  NSError(std::string domain, int64_t code, UserInfo userInfo = {});

  // A POSIX error for `errnoValue`, optionally naming the file it concerns.
  static NSError posix(int errnoValue, std::optional<std::string> path = std::nullopt);
  // A Cocoa file error (4, 513, 516, ...) for `path`, with the underlying POSIX error.
  static NSError cocoaFile(int64_t code, const std::string& path, int errnoValue = 0);
  // The Cocoa file error that the platform's file manager reports for `errnoValue`.
  static NSError fileManagerError(int errnoValue, const std::string& path, bool writing);
  // The form that a thrown value of a type without a domain of its own bridges to:
  // domain "Module.TypeName", the case index as code, and the generic description.
  static NSError bridged(std::string qualifiedTypeName, int64_t code);

  const std::string& domain() const { return domain_; }
  int64_t code() const { return code_; }
  const UserInfo& userInfo() const { return userInfo_; }

  // The localized description: the user information's description if set, otherwise the
  // platform's wording for the domain and code.
  std::string localizedDescription() const;
  std::optional<std::string> localizedFailureReason() const;
  const NSError* underlyingError() const;
  std::optional<std::string> stringForKey(const std::string& key) const;
  // The platform's textual form: Error Domain=D Code=N "description".
  std::string description() const;

  NSError withUserInfoValue(const std::string& key, UserInfoValue value) const;

  bool operator==(const NSError& other) const;

private:
  std::string domain_;
  int64_t code_ = 0;
  UserInfo userInfo_;
};

// Base of every exception this system throws: it knows its platform error form, the way a
// thrown value bridges to the platform error object.
class BridgedError : public std::exception {
public:
  virtual NSError toNSError() const = 0;
  std::string localizedDescription() const { return toNSError().localizedDescription(); }
  const char* what() const noexcept override;

private:
  mutable std::string what_;
};

// An exception that carries an error value as it is.
class NSErrorException : public BridgedError {
public:
  explicit NSErrorException(NSError error) : error_(std::move(error)) {}
  NSError toNSError() const override { return error_; }
  const NSError& error() const { return error_; }

private:
  NSError error_;
};

// Bridges any caught exception to its platform error form. Exceptions that are not ours (for
// example std::bad_alloc) become a generic error carrying their message.
NSError bridgeToNSError(const std::exception_ptr& error);
NSError bridgeToNSError(const std::exception& error);

// Fills an optional error out-parameter, the convention of the utility classes.
inline void setError(NSError* out, NSError error) {
  if (out != nullptr) {
    *out = std::move(error);
  }
}

} // namespace platform
