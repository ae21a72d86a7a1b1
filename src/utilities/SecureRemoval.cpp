#include "platform/posix/ReadWrite.h"
#include "utilities/FileManagerAdditions.h"
#include "utilities/Log.h"
#include "utilities/PathComponents.h"
#include "utilities/StringsTable.h"
#include "utilities/TreeWalk.h"
#include "utilities/UniqueFd.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace utilities {
namespace {

constexpr size_t kOverwriteChunk = 64 * 1024;

// Overwrites each regular file once with random bytes before unlinking it, then removes the
// folders bottom-up. Stops at the first failure.
class SecureRemovingVisitor : public TreeVisitor {
public:
  int error = 0;

  SecureRemovingVisitor() : noise_(kOverwriteChunk) {
    size_t filled = 0;
    while (filled < noise_.size()) {
      ssize_t got = ::getrandom(noise_.data() + filled, noise_.size() - filled, 0);
      if (got <= 0) {
        break; // the buffer keeps zeros: still one overwriting pass
      }
      filled += static_cast<size_t>(got);
    }
  }

  WalkControl visitFile(int parentFd, const char* name) override {
    if (!overwrite(parentFd, name)) {
      return failed(errno);
    }
    return ::unlinkat(parentFd, name, 0) == 0 ? WalkControl::proceed : failed(errno);
  }
  WalkControl enterDirectory(int, const char*, int) override { return WalkControl::proceed; }
  WalkControl leaveDirectory(int parentFd, const char* name) override {
    return ::unlinkat(parentFd, name, AT_REMOVEDIR) == 0 ? WalkControl::proceed : failed(errno);
  }
  WalkControl failure(int, const char*, int errnoValue) override { return failed(errnoValue); }

private:
  bool overwrite(int parentFd, const char* name) {
    struct stat info;
    if (::fstatat(parentFd, name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
      return false;
    }
    // Links, devices and pipes have no contents of their own; a file with another hard link
    // keeps its data under that other name.
    if (!S_ISREG(info.st_mode) || info.st_nlink != 1 || info.st_size == 0) {
      return true;
    }
    UniqueFd fd(
        ::openat(parentFd, name, O_WRONLY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    struct stat opened;
    if (!fd || ::fstat(fd.get(), &opened) != 0) {
      return false;
    }
    if (opened.st_ino != info.st_ino || opened.st_dev != info.st_dev || opened.st_nlink != 1) {
      return true;
    }
    off_t offset = 0;
    while (offset < opened.st_size) {
      size_t chunk = static_cast<size_t>(std::min<off_t>(opened.st_size - offset, kOverwriteChunk));
      if (platform::posix::writeAllAt(fd.get(), noise_.data(), chunk, uint64_t(offset)) != 0) {
        return false;
      }
      offset += off_t(chunk);
    }
    return ::fdatasync(fd.get()) == 0;
  }

  WalkControl failed(int errnoValue) {
    error = errnoValue;
    return WalkControl::stop;
  }

  std::vector<unsigned char> noise_;
};

} // namespace

bool securelyRemoveFileAtPath(const std::string& path, platform::NSError* error) {
  try {
    if (!hasFileSystemRepresentation(path)) {
      log("Missing path. Treat as an error.");
      return false;
    }
    tryToUnlockFileIfNeeded(path, false);
    SecureRemovingVisitor visitor;
    // The root folder is never wiped.
    const bool rootFolder = path.find_first_not_of('/') == std::string::npos;
    if (!rootFolder && walkTree(path, visitor)) {
      return true;
    }
    const int failure = rootFolder ? EPERM : visitor.error != 0 ? visitor.error : errno;
    // The removal call reports failure as -1, which is the code; the cause rides along.
    platform::UserInfo info{
        {platform::NSLocalizedDescriptionKey,
         errorsTableString("ErrorDescriptionRemoving_GenericError")},
        {platform::NSUnderlyingErrorKey,
         std::make_shared<const platform::NSError>(platform::NSError::posix(failure, path))}};
    platform::setError(error, platform::NSError(kSecureRemoveErrorDomain, -1, std::move(info)));
    return false;
  } catch (const std::exception& exception) {
    platform::setError(error, platform::NSError(kSecureRemoveErrorDomain, -1,
                                                {{platform::NSLocalizedDescriptionKey,
                                                  std::string(exception.what())}}));
    return false;
  }
}

} // namespace utilities
