#include "platform/foundation/NSError.h"

#include <cstring>
#include <typeinfo>

namespace platform {
namespace {

constexpr const char* kCouldNotComplete = "The operation couldn’t be completed.";

std::string lastPathComponent(const std::string& path) {
  std::string trimmed = path;
  while (trimmed.size() > 1 && trimmed.back() == '/') {
    trimmed.pop_back();
  }
  auto slash = trimmed.rfind('/');
  return slash == std::string::npos || trimmed.size() == 1 ? trimmed : trimmed.substr(slash + 1);
}

// The platform's wording for the Cocoa errors this system produces; `name` is the last path
// component of the file concerned, empty when none is known.
std::optional<std::string> cocoaDescription(int64_t code, const std::string& name) {
  const bool named = !name.empty();
  const std::string file = named ? "The file “" + name + "”" : "The file";
  switch (code) {
  case NSFileNoSuchFileError:
    return file + " doesn’t exist.";
  case NSFileLockingError:
    return file + " couldn’t be locked.";
  case NSFileReadUnknownError:
    return file + " couldn’t be opened.";
  case NSFileReadNoPermissionError:
    return file + " couldn’t be opened because you don’t have permission to view it.";
  case NSFileReadInvalidFileNameError:
    return file + " couldn’t be opened because the file name is incorrect.";
  case NSFileReadCorruptFileError:
    return file + " couldn’t be opened because it isn’t in the correct format.";
  case NSFileReadNoSuchFileError:
    return named ? file + " couldn’t be opened because there is no such file."
                 : std::string("The file couldn’t be opened because it doesn’t exist.");
  case NSFileWriteUnknownError:
    return file + " couldn’t be saved.";
  case NSFileWriteNoPermissionError:
    return named ? "You don’t have permission to save the file “" + name + "”."
                 : std::string("You don’t have permission to save the file.");
  case NSFileWriteInvalidFileNameError:
    return file + " couldn’t be saved because the file name is incorrect.";
  case NSFileWriteFileExistsError:
    return file + " couldn’t be saved because a file with the same name already exists.";
  case NSFileWriteOutOfSpaceError:
    return named ? file + " couldn’t be saved because the volume is full."
                 : std::string("The file couldn’t be saved because there isn’t enough space.");
  case NSPropertyListReadCorruptError:
  case NSCoderReadCorruptError:
    return std::string("The data couldn’t be read because it isn’t in the correct format.");
  case NSCoderValueNotFoundError:
    return std::string("The data couldn’t be read because it is missing.");
  case NSCoderInvalidValueError:
    return std::string("The data couldn’t be written because it isn’t in the correct format.");
  default:
    return std::nullopt;
  }
}

} // namespace

NSError::NSError(std::string domain, int64_t code, UserInfo userInfo)
    : domain_(std::move(domain)), code_(code), userInfo_(std::move(userInfo)) {}

NSError NSError::posix(int errnoValue, std::optional<std::string> path) {
  UserInfo info;
  if (path) {
    info[NSFilePathErrorKey] = *path;
  }
  return NSError(NSPOSIXErrorDomain, errnoValue, std::move(info));
}

NSError NSError::cocoaFile(int64_t code, const std::string& path, int errnoValue) {
  UserInfo info;
  if (!path.empty()) {
    info[NSFilePathErrorKey] = path;
  }
  if (errnoValue != 0) {
    info[NSUnderlyingErrorKey] = std::make_shared<const NSError>(posix(errnoValue));
  }
  return NSError(NSCocoaErrorDomain, code, std::move(info));
}

NSError NSError::fileManagerError(int errnoValue, const std::string& path, bool writing) {
  int64_t code = 0;
  switch (errnoValue) {
  case ENOENT:
    code = writing ? NSFileNoSuchFileError : NSFileReadNoSuchFileError;
    break;
  case EPERM:
  case EACCES:
    code = writing ? NSFileWriteNoPermissionError : NSFileReadNoPermissionError;
    break;
  case EEXIST:
    code = writing ? NSFileWriteFileExistsError : NSFileReadUnknownError;
    break;
  case ENAMETOOLONG:
    code = writing ? NSFileWriteInvalidFileNameError : NSFileReadInvalidFileNameError;
    break;
  case ENOSPC:
  case EDQUOT:
    code = writing ? NSFileWriteOutOfSpaceError : NSFileReadUnknownError;
    break;
  default:
    code = writing ? NSFileWriteUnknownError : NSFileReadUnknownError;
    break;
  }
  return cocoaFile(code, path, errnoValue);
}

NSError NSError::bridged(std::string qualifiedTypeName, int64_t code) {
  return NSError(std::move(qualifiedTypeName), code);
}

std::string NSError::localizedDescription() const {
  if (auto description = stringForKey(NSLocalizedDescriptionKey)) {
    return *description;
  }
  if (domain_ == NSCocoaErrorDomain) {
    auto path = stringForKey(NSFilePathErrorKey);
    if (auto text = cocoaDescription(code_, path ? lastPathComponent(*path) : std::string())) {
      return *text;
    }
  }
  if (domain_ == NSPOSIXErrorDomain) {
    return std::string(kCouldNotComplete) + " " + std::strerror(static_cast<int>(code_));
  }
  return std::string(kCouldNotComplete) + " (" + domain_ + " error " + std::to_string(code_) + ".)";
}

std::optional<std::string> NSError::localizedFailureReason() const {
  return stringForKey(NSLocalizedFailureReasonErrorKey);
}

const NSError* NSError::underlyingError() const {
  auto it = userInfo_.find(NSUnderlyingErrorKey);
  if (it == userInfo_.end()) {
    return nullptr;
  }
  auto* error = std::get_if<std::shared_ptr<const NSError>>(&it->second);
  return error != nullptr ? error->get() : nullptr;
}

std::optional<std::string> NSError::stringForKey(const std::string& key) const {
  auto it = userInfo_.find(key);
  if (it == userInfo_.end()) {
    return std::nullopt;
  }
  if (auto* text = std::get_if<std::string>(&it->second)) {
    return *text;
  }
  return std::nullopt;
}

std::string NSError::description() const {
  return "Error Domain=" + domain_ + " Code=" + std::to_string(code_) + " \"" +
         localizedDescription() + "\"";
}

NSError NSError::withUserInfoValue(const std::string& key, UserInfoValue value) const {
  NSError copy = *this;
  copy.userInfo_[key] = std::move(value);
  return copy;
}

namespace {
bool sameValue(const UserInfoValue& a, const UserInfoValue& b) {
  if (a.index() != b.index()) {
    return false;
  }
  if (auto* left = std::get_if<std::shared_ptr<const NSError>>(&a)) {
    auto& right = std::get<std::shared_ptr<const NSError>>(b);
    return (*left == nullptr || right == nullptr) ? *left == right : **left == *right;
  }
  return a == b;
}
} // namespace

bool NSError::operator==(const NSError& other) const {
  if (domain_ != other.domain_ || code_ != other.code_ ||
      userInfo_.size() != other.userInfo_.size()) {
    return false;
  }
  for (const auto& [key, value] : userInfo_) {
    auto it = other.userInfo_.find(key);
    if (it == other.userInfo_.end() || !sameValue(value, it->second)) {
      return false;
    }
  }
  return true;
}

const char* BridgedError::what() const noexcept {
  try {
    what_ = localizedDescription();
  } catch (...) {
    return "error";
  }
  return what_.c_str();
}

NSError bridgeToNSError(const std::exception& error) {
  if (auto* bridged = dynamic_cast<const BridgedError*>(&error)) {
    return bridged->toNSError();
  }
  return NSError("PrivilegedAgent.UnexpectedError", 1,
                 {{NSLocalizedDescriptionKey, std::string(error.what())}});
}

NSError bridgeToNSError(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& caught) {
    return bridgeToNSError(caught);
  } catch (...) {
    return NSError("PrivilegedAgent.UnexpectedError", 1,
                   {{NSLocalizedDescriptionKey, std::string("Unknown error")}});
  }
}

} // namespace platform
