#include "tasks/files/KLVFileImmutabilityService.h"

#include "tasks/model/PrivilegedAccessErrors.h"
#include "utilities/FileFlags.h"
#include "utilities/FileManager.h"
#include "utilities/UniqueFd.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <vector>

namespace tasks {

using platform::NSError;

namespace {
NSError readError(const std::string& path) {
  return NSError::fileManagerError(errno, path, false);
}
NSError writeError(const std::string& path) {
  return NSError::fileManagerError(errno, path, true);
}
} // namespace

bool KLVFileImmutabilityService::unlockFileWithPath(const std::string& path, NSError* error) const {
  return unlockRecursively(path, 0, error);
}

bool KLVFileImmutabilityService::unlockRecursively(const std::string& path, int depth,
                                                   NSError* error) const {
  // Deeper items stay as they are and add no error.
  if (depth >= kMaxUnlockDepth) {
    return false;
  }
  if (!unlockOne(path, error)) {
    return false;
  }
  struct stat info;
  if (::lstat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    return true;
  }
  NSError listingError;
  auto entries =
      utilities::FileManager::defaultManager().contentsOfDirectoryAtPath(path, &listingError);
  std::vector<NSError> collected;
  if (!entries) {
    collected.push_back(listingError);
  } else {
    for (const auto& name : *entries) {
      NSError entryError;
      const std::string entryPath = path == "/" ? "/" + name : path + "/" + name;
      if (!unlockRecursively(entryPath, depth + 1, &entryError) && !entryError.domain().empty()) {
        collected.push_back(entryError);
      }
    }
  }
  if (collected.empty()) {
    return true;
  }
  if (collected.size() == 1) {
    platform::setError(error, collected.front());
    return false;
  }
  platform::setError(error, NSError(kKLVFileImmutabilityErrorDomain, 100501,
                                    {{kKLVEmbeddedErrorsKey, std::move(collected)}}));
  return false;
}

bool KLVFileImmutabilityService::unlockOne(const std::string& path, NSError* error) const {
  struct stat info;
  if (::lstat(path.c_str(), &info) != 0) {
    platform::setError(error, readError(path));
    return false;
  }
  if (!utilities::clearImmutableFlags(AT_FDCWD, path.c_str(), false, nullptr)) {
    platform::setError(error, writeError(path));
    return false;
  }
  return true;
}

bool KLVFileImmutabilityService::lockFileWithPath(const std::string& path, uint32_t flags,
                                                  NSError* error) const {
  utilities::UniqueFd fd(utilities::openForFlags(AT_FDCWD, path.c_str(), false));
  auto current = fd ? utilities::fileFlags(fd.get()) : std::nullopt;
  if (!current) {
    platform::setError(error, readError(path));
    return false;
  }
  uint32_t wanted = *current;
  if ((flags & kUserImmutable) != 0) {
    wanted |= utilities::UF_IMMUTABLE;
  }
  if ((flags & kSystemImmutable) != 0) {
    wanted |= utilities::SF_IMMUTABLE;
  }
  if (!utilities::setFileFlags(fd.get(), wanted)) {
    platform::setError(error, writeError(path));
    return false;
  }
  return true;
}

bool KLVFileImmutabilityService::isLockedFileAt(const std::string& path, uint32_t flags,
                                                NSError* error) const {
  utilities::UniqueFd fd(utilities::openForFlags(AT_FDCWD, path.c_str(), false));
  auto current = fd ? utilities::fileFlags(fd.get()) : std::nullopt;
  if (!current) {
    platform::setError(error, readError(path));
    return false;
  }
  const bool user = (flags & kUserImmutable) != 0 && (*current & utilities::UF_IMMUTABLE) != 0;
  const bool system = (flags & kSystemImmutable) != 0 && (*current & utilities::SF_IMMUTABLE) != 0;
  return user || system;
}

} // namespace tasks
