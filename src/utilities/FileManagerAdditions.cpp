#include "utilities/FileManagerAdditions.h"

#include "utilities/FileFlags.h"
#include "utilities/FileManager.h"
#include "utilities/Log.h"
#include "utilities/PathComponents.h"
#include "utilities/TreeWalk.h"
#include "utilities/UniqueFd.h"

#include <cerrno>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace utilities {
namespace {

using platform::NSError;

constexpr int64_t NSFeatureUnsupportedError = 3328;

void logUnlockFailure(const std::string& path, int errnoValue) {
  log("Failed to unset immutable flag for %@ with error: %d", {path, std::to_string(errnoValue)});
}

// Clears the flags of one item; `followSymlink` only for folders the caller goes through
// anyway (a parent folder named by a link).
void unlockItem(const std::string& path, bool followSymlink) {
  if (!hasFileSystemRepresentation(path)) {
    return;
  }
  const std::string item = withoutTrailingSlashes(path);
  if (!clearImmutableFlags(AT_FDCWD, item.c_str(), followSymlink, nullptr)) {
    logUnlockFailure(item, errno);
  }
}

void unlockParentFolder(const std::string& path) {
  std::string parent = deletingLastPathComponent(path);
  if (!parent.empty()) {
    unlockItem(parent, true);
  }
}

// Clears flags below a folder whose own flags are already cleared. Keeps the names of the
// folders it is in, to spell out a full path only when a failure is logged.
class UnlockingVisitor : public TreeVisitor {
public:
  explicit UnlockingVisitor(std::string root) { names_.push_back(std::move(root)); }

  WalkControl visitFile(int parentFd, const char* name) override {
    if (parentFd != AT_FDCWD && !clearImmutableFlags(parentFd, name, false, nullptr)) {
      logUnlockFailure(pathOf(name), errno);
    }
    return WalkControl::proceed;
  }
  WalkControl enterDirectory(int parentFd, const char* name, int directoryFd) override {
    if (parentFd == AT_FDCWD) {
      return WalkControl::proceed; // the root, handled before the walk
    }
    auto flags = fileFlags(directoryFd);
    if (flags && (*flags & kImmutableFlagsMask) != 0 &&
        !setFileFlags(directoryFd, *flags & ~kImmutableFlagsMask)) {
      logUnlockFailure(pathOf(name), errno);
    }
    names_.push_back(name);
    return WalkControl::proceed;
  }
  WalkControl leaveDirectory(int parentFd, const char*) override {
    if (parentFd != AT_FDCWD && names_.size() > 1) {
      names_.pop_back();
    }
    return WalkControl::proceed;
  }
  WalkControl failure(int, const char*, int) override { return WalkControl::proceed; }

private:
  std::string pathOf(const char* name) const {
    std::string path;
    for (const auto& folder : names_) {
      path = path.empty() ? folder : appendingPathComponent(path, folder);
    }
    return appendingPathComponent(path, name);
  }

  std::vector<std::string> names_;
};

} // namespace

bool removeFileAndHandleLockAtPath(const std::string& path, NSError* error) {
  try {
    auto& fileManager = FileManager::defaultManager();
    NSError firstError;
    if (fileManager.removeItemAtPath(path, &firstError)) {
      return true;
    }
    const bool isCocoa = firstError.domain() == platform::NSCocoaErrorDomain;
    if (isCocoa && firstError.code() == platform::NSFileNoSuchFileError) {
      return true;
    }
    if (!isCocoa || firstError.code() != platform::NSFileWriteNoPermissionError) {
      log("An error occured while removing file at path (%@): %@",
          {path, describeError(firstError)});
    }
    unlockParentFolder(path);
    tryToUnlockFileIfNeeded(path, true);
    NSError secondError;
    if (fileManager.removeItemAtPath(path, &secondError)) {
      return true;
    }
    platform::setError(error, secondError);
    return false;
  } catch (const std::exception& exception) {
    log("An error occured while removing file at path (%@): %@", {path, exception.what()});
    platform::setError(error, platform::bridgeToNSError(exception));
    return false;
  }
}

void tryToUnlockFileIfNeeded(const std::string& path, bool recursively) {
  try {
    unlockItem(path, false);
    if (!recursively || !hasFileSystemRepresentation(path)) {
      return;
    }
    const std::string item = withoutTrailingSlashes(path);
    struct stat info;
    if (::lstat(item.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
      return;
    }
    UnlockingVisitor visitor(item);
    walkTree(item, visitor);
  } catch (const std::exception& exception) {
    log("Failed to unset immutable flag for %@ with error: %@", {path, exception.what()});
  }
}

bool truncateFileAtPath(const std::string& path) {
  if (!hasFileSystemRepresentation(path)) {
    return false;
  }
  struct stat info;
  // Only regular files: opening a device or a pipe for writing can have effects of its own.
  if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
    return false;
  }
  UniqueFd fd(::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  if (!fd || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
    return false;
  }
  if (::ftruncate(fd.get(), 0) != 0) {
    log("Failed to truncate file with exception: %@", {std::strerror(errno)});
    return false;
  }
  return true;
}

bool removeContentsOfDirectoryAtPath(const std::string& path) {
  try {
    NSError listingError;
    auto names = FileManager::defaultManager().contentsOfDirectoryAtPath(path, &listingError);
    if (!names) {
      log("Error: failed to get contents of directory %@ with error %@",
          {path, describeError(listingError)});
      return false;
    }
    bool removedAll = true;
    for (const auto& name : *names) {
      if (!removeFileAndHandleLockAtPath(appendingPathComponent(path, name), nullptr)) {
        removedAll = false;
      }
    }
    return removedAll;
  } catch (const std::exception& exception) {
    log("Error: failed to get contents of directory %@ with error %@", {path, exception.what()});
    return false;
  }
}

bool advancedMoveItemAtPath(const std::string& source, const std::string& destination,
                            NSError* error) {
  try {
    const std::string sourceParent = deletingLastPathComponent(source);
    if (sourceParent == destination) {
      log("Make no sense to move to the same folder. Treat as success.");
      return true;
    }
    const std::string destinationParent = deletingLastPathComponent(destination);
    if (!sourceParent.empty()) {
      unlockItem(sourceParent, true);
    }
    unlockItem(source, false);
    if (!destinationParent.empty()) {
      unlockItem(destinationParent, true);
    }
    if (destinationParent.empty()) {
      // The Trash has no counterpart on this system.
      platform::setError(error, NSError(platform::NSCocoaErrorDomain, NSFeatureUnsupportedError,
                                        {{platform::NSFilePathErrorKey, source}}));
      return false;
    }
    auto& fileManager = FileManager::defaultManager();
    if (!fileManager.fileExistsAtPath(destinationParent) &&
        !fileManager.createDirectoryAtPath(destinationParent, true, error)) {
      return false;
    }
    return fileManager.moveItemAtPath(source, destination, error);
  } catch (const std::exception& exception) {
    platform::setError(error, platform::bridgeToNSError(exception));
    return false;
  }
}

} // namespace utilities
