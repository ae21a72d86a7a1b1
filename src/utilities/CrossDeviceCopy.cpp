#include "utilities/CrossDeviceCopy.h"

#include "platform/posix/RetryOnInterrupt.h"
#include "utilities/FileManager.h"
#include "utilities/TreeWalk.h"
#include "utilities/UniqueFd.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <string>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace utilities {
namespace {

// Applies owner, mode and times of `info` to the open copy.
void copyAttributes(int fd, const struct stat& info) {
  (void)::fchown(fd, info.st_uid, info.st_gid);
  (void)::fchmod(fd, info.st_mode & 07777);
  const timespec times[2] = {info.st_atim, info.st_mtim};
  (void)::futimens(fd, times);
}

bool copyFileContents(int from, int to, off_t size) {
  off_t left = size;
  while (left > 0) {
    const ssize_t sent = platform::posix::retryOnInterrupt([&] {
      return ::sendfile(to, from, nullptr, static_cast<size_t>(std::min<off_t>(left, 1 << 30)));
    });
    if (sent <= 0) {
      return sent == 0; // the file shrank meanwhile: what was there is copied
    }
    left -= sent;
  }
  return true;
}

// Mirrors the walk into the destination: one open destination folder per open source level.
class CopyingVisitor : public TreeVisitor {
public:
  explicit CopyingVisitor(std::string destination) : destination_(std::move(destination)) {}
  int error = 0;

  WalkControl visitFile(int parentFd, const char* name) override {
    struct stat info;
    if (::fstatat(parentFd, name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
      return failed(errno);
    }
    const int targetParent = targetParentFd(parentFd);
    const char* targetName = this->targetName(parentFd, name);
    if (S_ISREG(info.st_mode)) {
      UniqueFd from(::openat(parentFd, name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY));
      if (!from) {
        return failed(errno);
      }
      UniqueFd to(::openat(targetParent, targetName,
                           O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
      if (!to || !copyFileContents(from.get(), to.get(), info.st_size)) {
        return failed(errno);
      }
      copyAttributes(to.get(), info);
      return WalkControl::proceed;
    }
    if (S_ISLNK(info.st_mode)) {
      std::vector<char> target(static_cast<size_t>(info.st_size > 0 ? info.st_size : PATH_MAX) + 1);
      ssize_t length = ::readlinkat(parentFd, name, target.data(), target.size() - 1);
      if (length < 0) {
        return failed(errno);
      }
      target[static_cast<size_t>(length)] = '\0';
      if (::symlinkat(target.data(), targetParent, targetName) != 0) {
        return failed(errno);
      }
      (void)::fchownat(targetParent, targetName, info.st_uid, info.st_gid, AT_SYMLINK_NOFOLLOW);
      return WalkControl::proceed;
    }
    // Special files: recreate the node itself, never its contents.
    if (::mknodat(targetParent, targetName, info.st_mode, info.st_rdev) != 0) {
      return failed(errno);
    }
    (void)::fchownat(targetParent, targetName, info.st_uid, info.st_gid, AT_SYMLINK_NOFOLLOW);
    return WalkControl::proceed;
  }

  WalkControl enterDirectory(int parentFd, const char* name, int directoryFd) override {
    struct stat info;
    if (::fstat(directoryFd, &info) != 0) {
      return failed(errno);
    }
    const int targetParent = targetParentFd(parentFd);
    const char* targetName = this->targetName(parentFd, name);
    if (::mkdirat(targetParent, targetName, 0700) != 0) {
      return failed(errno);
    }
    UniqueFd target(
        ::openat(targetParent, targetName, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!target) {
      return failed(errno);
    }
    targets_.push_back({std::move(target), info});
    return WalkControl::proceed;
  }

  WalkControl leaveDirectory(int, const char*) override {
    if (!targets_.empty()) {
      copyAttributes(targets_.back().fd.get(), targets_.back().info);
      targets_.pop_back();
    }
    return WalkControl::proceed;
  }

  WalkControl failure(int, const char*, int errnoValue) override { return failed(errnoValue); }

private:
  struct Target {
    UniqueFd fd;
    struct stat info;
  };

  // The walk names the root by AT_FDCWD and its path; everything else by its source parent,
  // which is always the innermost folder entered.
  int targetParentFd(int sourceParentFd) const {
    return sourceParentFd == AT_FDCWD || targets_.empty() ? AT_FDCWD : targets_.back().fd.get();
  }
  const char* targetName(int sourceParentFd, const char* name) const {
    return sourceParentFd == AT_FDCWD ? destination_.c_str() : name;
  }
  WalkControl failed(int errnoValue) {
    error = errnoValue;
    return WalkControl::stop;
  }

  std::string destination_;
  std::vector<Target> targets_;
};

} // namespace

bool copyItemAcrossFileSystems(const std::string& source, const std::string& destination,
                               platform::NSError* error) {
  CopyingVisitor visitor(destination);
  if (walkTree(source, visitor)) {
    return true;
  }
  const int failure = visitor.error != 0 ? visitor.error : errno;
  if (failure != EEXIST) {
    FileManager::defaultManager().removeItemAtPath(destination, nullptr);
  }
  platform::setError(error, platform::NSError::fileManagerError(
                                failure, failure == EEXIST ? destination : source, true));
  return false;
}

} // namespace utilities
