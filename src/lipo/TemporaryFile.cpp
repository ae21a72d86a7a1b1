#include "lipo/TemporaryFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lipo {

std::optional<TemporaryFile> TemporaryFile::create(int directoryFd, std::string name) {
  FileDescriptor directory(::fcntl(directoryFd, F_DUPFD_CLOEXEC, 0));
  if (!directory.valid()) {
    return std::nullopt;
  }
  // A leftover of an interrupted run, or a link planted at the name: remove the entry itself.
  // Should another one appear before the creation below, O_EXCL refuses it.
  if (::unlinkat(directory.get(), name.c_str(), 0) != 0 && errno != ENOENT) {
    return std::nullopt;
  }
  FileDescriptor fd(::openat(directory.get(), name.c_str(),
                             O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!fd.valid()) {
    return std::nullopt;
  }
  return TemporaryFile(std::move(directory), std::move(fd), std::move(name));
}

TemporaryFile::~TemporaryFile() {
  if (!placed_ && fd_.valid() && nameRefersToFile()) {
    ::unlinkat(directory_.get(), name_.c_str(), 0);
  }
}

bool TemporaryFile::nameRefersToFile() const {
  struct stat byName {};
  struct stat byDescriptor {};
  return ::fstatat(directory_.get(), name_.c_str(), &byName, AT_SYMLINK_NOFOLLOW) == 0 &&
         ::fstat(fd_.get(), &byDescriptor) == 0 && byName.st_dev == byDescriptor.st_dev &&
         byName.st_ino == byDescriptor.st_ino;
}

int TemporaryFile::replace(const std::string& targetName) {
  if (!nameRefersToFile()) {
    return ESTALE; // something else took the name; never move that into place
  }
  if (::renameat(directory_.get(), name_.c_str(), directory_.get(), targetName.c_str()) != 0) {
    return errno;
  }
  placed_ = true;
  return 0;
}

} // namespace lipo
