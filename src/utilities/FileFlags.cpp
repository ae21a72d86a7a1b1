#include "utilities/FileFlags.h"

#include "utilities/UniqueFd.h"

#include <cerrno>
#include <fcntl.h>
#include <linux/fs.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace utilities {

std::optional<uint32_t> fileFlags(int fd) {
  int linuxFlags = 0;
  if (::ioctl(fd, FS_IOC_GETFLAGS, &linuxFlags) != 0) {
    return std::nullopt;
  }
  uint32_t flags = 0;
  if (linuxFlags & FS_IMMUTABLE_FL) {
    flags |= UF_IMMUTABLE | SF_IMMUTABLE;
  }
  if (linuxFlags & FS_APPEND_FL) {
    flags |= UF_APPEND | SF_APPEND;
  }
  return flags;
}

bool setFileFlags(int fd, uint32_t flags) {
  int linuxFlags = 0;
  if (::ioctl(fd, FS_IOC_GETFLAGS, &linuxFlags) != 0) {
    return false;
  }
  linuxFlags &= ~(FS_IMMUTABLE_FL | FS_APPEND_FL);
  if (flags & (UF_IMMUTABLE | SF_IMMUTABLE)) {
    linuxFlags |= FS_IMMUTABLE_FL;
  }
  if (flags & (UF_APPEND | SF_APPEND)) {
    linuxFlags |= FS_APPEND_FL;
  }
  return ::ioctl(fd, FS_IOC_SETFLAGS, &linuxFlags) == 0;
}

int openForFlags(int directoryFd, const char* name, bool followSymlink) {
  // A path handle first: it opens nothing, so the type can be checked before a real open.
  int pathFlags = O_PATH | O_CLOEXEC | (followSymlink ? 0 : O_NOFOLLOW);
  UniqueFd handle(::openat(directoryFd, name, pathFlags));
  if (!handle) {
    return -1;
  }
  struct stat info;
  if (::fstat(handle.get(), &info) != 0) {
    return -1;
  }
  if (!S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode)) {
    errno = EOPNOTSUPP;
    return -1;
  }
  // Reopening through the handle reaches exactly the inode that was checked.
  std::string handlePath = "/proc/self/fd/" + std::to_string(handle.get());
  int fd = ::open(handlePath.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd >= 0 || errno != ENOENT) {
    return fd;
  }
  // Without /proc: open by name and make sure it is still the same inode.
  UniqueFd direct(
      ::openat(directoryFd, name,
               O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (followSymlink ? 0 : O_NOFOLLOW)));
  struct stat reopened;
  if (!direct || ::fstat(direct.get(), &reopened) != 0 || reopened.st_dev != info.st_dev ||
      reopened.st_ino != info.st_ino) {
    errno = direct ? ESTALE : errno;
    return -1;
  }
  return direct.release();
}

bool clearImmutableFlags(int directoryFd, const char* name, bool followSymlink, bool* hadFlags) {
  if (hadFlags != nullptr) {
    *hadFlags = false;
  }
  UniqueFd fd(openForFlags(directoryFd, name, followSymlink));
  if (!fd) {
    return true;
  }
  auto flags = fileFlags(fd.get());
  if (!flags || (*flags & kImmutableFlagsMask) == 0) {
    return true;
  }
  if (hadFlags != nullptr) {
    *hadFlags = true;
  }
  return setFileFlags(fd.get(), *flags & ~kImmutableFlagsMask);
}

} // namespace utilities
