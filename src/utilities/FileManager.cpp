#include "utilities/FileManager.h"

#include "platform/posix/DirectoryReader.h"
#include "utilities/CrossDeviceCopy.h"
#include "utilities/PathComponents.h"
#include "utilities/TreeWalk.h"
#include "utilities/UniqueFd.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

namespace utilities {
namespace {

using platform::NSError;

bool fail(NSError* error, int errnoValue, const std::string& path, bool writing) {
  platform::setError(error, NSError::fileManagerError(errnoValue, path, writing));
  return false;
}

// Removes a tree bottom-up, stopping at the first failure and remembering its errno.
class RemovingVisitor : public TreeVisitor {
public:
  int error = 0;

  WalkControl visitFile(int parentFd, const char* name) override {
    return result(::unlinkat(parentFd, name, 0));
  }
  WalkControl enterDirectory(int, const char*, int) override { return WalkControl::proceed; }
  WalkControl leaveDirectory(int parentFd, const char* name) override {
    return result(::unlinkat(parentFd, name, AT_REMOVEDIR));
  }
  WalkControl failure(int, const char*, int errnoValue) override {
    error = errnoValue;
    return WalkControl::stop;
  }

private:
  WalkControl result(int status) {
    if (status == 0 || errno == ENOENT) {
      return WalkControl::proceed;
    }
    error = errno;
    return WalkControl::stop;
  }
};

bool isRootFolder(const std::string& path) {
  return path.find_first_not_of('/') == std::string::npos;
}

} // namespace

FileManager& FileManager::defaultManager() {
  static FileManager manager;
  return manager;
}

bool FileManager::fileExistsAtPath(const std::string& path, bool* isDirectory) const {
  struct stat info;
  if (!hasFileSystemRepresentation(path) || ::stat(path.c_str(), &info) != 0) {
    return false;
  }
  if (isDirectory != nullptr) {
    *isDirectory = S_ISDIR(info.st_mode);
  }
  return true;
}

bool FileManager::removeItemAtPath(const std::string& path, NSError* error) const {
  if (!hasFileSystemRepresentation(path)) {
    return fail(error, ENOENT, path, true);
  }
  if (isRootFolder(path)) {
    return fail(error, EPERM, path, true);
  }
  RemovingVisitor visitor;
  if (!walkTree(path, visitor)) {
    return fail(error, visitor.error != 0 ? visitor.error : errno, path, true);
  }
  return true;
}

bool FileManager::moveItemAtPath(const std::string& source, const std::string& destination,
                                 NSError* error) const {
  if (!hasFileSystemRepresentation(source)) {
    return fail(error, ENOENT, source, true);
  }
  if (!hasFileSystemRepresentation(destination)) {
    return fail(error, ENOENT, destination, true);
  }
  if (::renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, destination.c_str(), RENAME_NOREPLACE) == 0) {
    return true;
  }
  int renameError = errno;
  if (renameError == EINVAL || renameError == ENOSYS) {
    // A file system without no-replace renames: check, then rename (the window is small and
    // only the caller's own destination is affected).
    struct stat info;
    if (::lstat(destination.c_str(), &info) == 0) {
      return fail(error, EEXIST, destination, true);
    }
    if (::rename(source.c_str(), destination.c_str()) == 0) {
      return true;
    }
    renameError = errno;
  }
  struct stat sourceInfo;
  if (::lstat(source.c_str(), &sourceInfo) != 0) {
    return fail(error, errno, source, true);
  }
  if (renameError == EXDEV) {
    return copyItemAcrossFileSystems(source, destination, error) && removeItemAtPath(source, error);
  }
  return fail(error, renameError, renameError == EEXIST ? destination : source, true);
}

bool FileManager::createDirectoryAtPath(const std::string& path, bool withIntermediateDirectories,
                                        NSError* error) const {
  if (!hasFileSystemRepresentation(path)) {
    return fail(error, ENOENT, path, true);
  }
  // Bounds the recursion over parents below.
  if (path.size() >= PATH_MAX) {
    return fail(error, ENAMETOOLONG, path, true);
  }
  if (::mkdir(path.c_str(), 0777) == 0) {
    return true;
  }
  const int mkdirError = errno;
  bool isDirectory = false;
  if (mkdirError == EEXIST) {
    const bool existingFolder = fileExistsAtPath(path, &isDirectory) && isDirectory;
    return (withIntermediateDirectories && existingFolder) || fail(error, EEXIST, path, true);
  }
  if (mkdirError != ENOENT || !withIntermediateDirectories) {
    return fail(error, mkdirError, path, true);
  }
  const std::string parent = deletingLastPathComponent(path);
  if (parent.empty() || parent == path) {
    return fail(error, mkdirError, path, true);
  }
  if (!createDirectoryAtPath(parent, true, error)) {
    return false;
  }
  if (::mkdir(path.c_str(), 0777) == 0) {
    return true;
  }
  const int retryError = errno;
  if (retryError == EEXIST && fileExistsAtPath(path, &isDirectory) && isDirectory) {
    return true;
  }
  return fail(error, retryError, path, true);
}

std::optional<std::vector<std::string>>
FileManager::contentsOfDirectoryAtPath(const std::string& path, NSError* error) const {
  if (!hasFileSystemRepresentation(path)) {
    fail(error, ENOENT, path, false);
    return std::nullopt;
  }
  auto directory = platform::posix::DirectoryReader::open(path);
  if (!directory) {
    fail(error, errno, path, false);
    return std::nullopt;
  }
  std::vector<std::string> names;
  while (auto name = directory->next()) {
    names.emplace_back(*name);
  }
  if (const int readError = directory->error(); readError != 0) {
    fail(error, readError, path, false);
    return std::nullopt;
  }
  return names;
}

} // namespace utilities
