#include "tasks/files/KLVFileRemoverService.h"

#include "tasks/files/KLVURLProperties.h"
#include "tasks/model/PrivilegedAccessErrors.h"
#include "utilities/FileManager.h"

#include <cerrno>
#include <vector>

namespace tasks {

using platform::NSError;

namespace {

std::string parentPath(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) {
    return ".";
  }
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string withoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') {
    path.pop_back();
  }
  return path;
}

NSError wrapped(int64_t code, const NSError& cause, const std::string& path) {
  return NSError(kKLVFileRemoverErrorDomain, code,
                 {{platform::NSUnderlyingErrorKey, std::make_shared<const NSError>(cause)},
                  {platform::NSURLErrorKey, platform::URL::fileURLWithPath(path)}});
}

} // namespace

bool KLVFileRemoverService::removeFileWithPath(const std::string& path, bool leaveEmptyDirectories,
                                               NSError* error) const {
  return removeFileWithURL(platform::URL::fileURLWithPath(path), leaveEmptyDirectories, error);
}

bool KLVFileRemoverService::removeFileWithURL(const platform::URL& url, bool leaveEmptyDirectories,
                                              NSError* error) const {
  const std::string path = withoutTrailingSlashes(klv_fileSystemPath(url));
  if (path.empty()) {
    // Only an absolute file URL names an item here; the error names the URL as it came, so
    // that the result can travel back (an empty file URL could not be decoded by the client).
    platform::setError(error, NSError(kKLVFileRemoverErrorDomain, kKLVFileRemoverNoSuchItem,
                                      {{platform::NSURLErrorKey, url}}));
    return false;
  }
  if (!forceRemove(path, error)) {
    return false;
  }
  if (leaveEmptyDirectories) {
    return true;
  }
  const std::string parent = parentPath(path);
  NSError cleanupError;
  if (!klv_removeEmptyParentDirectories(parent, 1, &cleanupError)) {
    platform::setError(error,
                       wrapped(kKLVFileRemoverEmptyParentRemovalFailed, cleanupError, parent));
    return false;
  }
  return true;
}

bool KLVFileRemoverService::forceRemove(const std::string& path, NSError* error) const {
  // The root folder is never removed, so its tree is not unlocked either.
  if (path == "/") {
    platform::setError(error, NSError::fileManagerError(EPERM, path, true));
    return false;
  }
  const auto& fileManager = utilities::FileManager::defaultManager();
  NSError firstError;
  if (fileManager.removeItemAtPath(path, &firstError)) {
    return true;
  }
  if (firstError.domain() == platform::NSCocoaErrorDomain &&
      firstError.code() == platform::NSFileNoSuchFileError) {
    platform::setError(error, wrapped(kKLVFileRemoverNoSuchItem, firstError, path));
    return false;
  }
  // Unlock only what the removal needs: the parent folder itself (its flag forbids removing
  // entries) and the item's own tree. Siblings, and anything above the parent, keep their flags.
  std::vector<NSError> collected;
  const std::string parent = parentPath(path);
  NSError unlockError;
  if (!immutabilityService_.unlockFileItselfWithPath(parent, &unlockError)) {
    collected.push_back(wrapped(kKLVFileRemoverUnlockFailed, unlockError, parent));
  }
  unlockError = NSError();
  if (!immutabilityService_.unlockFileWithPath(path, &unlockError)) {
    collected.push_back(wrapped(kKLVFileRemoverUnlockFailed, unlockError, path));
  }
  NSError secondError;
  const bool removed = fileManager.removeItemAtPath(path, &secondError);
  if (removed) {
    // What went wrong on the way does not matter once the item is gone.
    return true;
  }
  collected.push_back(secondError);
  platform::setError(error, NSError(kKLVFileRemoverErrorDomain, kKLVFileRemoverCollectedErrors,
                                    {{kKLVEmbeddedErrorsKey, std::move(collected)}}));
  return false;
}

bool KLVFileRemoverService::klv_removeEmptyParentDirectories(const std::string& directory,
                                                             unsigned budget, NSError* error) {
  if (budget == 0 || directory.size() <= 1) {
    return true;
  }
  const auto& fileManager = utilities::FileManager::defaultManager();
  NSError listingError;
  auto entries = fileManager.contentsOfDirectoryAtPath(directory, &listingError);
  if (entries && !entries->empty()) {
    return true;
  }
  if (!entries) {
    platform::setError(error, listingError);
    return false;
  }
  if (!fileManager.removeItemAtPath(directory, error)) {
    return false;
  }
  return klv_removeEmptyParentDirectories(parentPath(directory), budget - 1, error);
}

} // namespace tasks
