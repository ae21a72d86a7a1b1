#include "lipo/TemporaryFile.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lipo {

namespace {

// Six characters from [a-z0-9], from the kernel's random source.
std::string randomSuffix() {
  static constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  unsigned char bytes[6] = {};
  if (::getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) {
    // Still unpredictable enough to avoid a collision; O_EXCL catches one anyway.
    const auto seed = static_cast<uint64_t>(::getpid()) ^ static_cast<uint64_t>(::time(nullptr));
    std::memcpy(bytes, &seed, sizeof bytes);
  }
  std::string suffix;
  for (unsigned char byte : bytes) {
    suffix += kAlphabet[byte % (sizeof kAlphabet - 1)];
  }
  return suffix;
}

} // namespace

std::optional<TemporaryFile> TemporaryFile::create(int directoryFd, const std::string& prefix) {
  FileDescriptor directory(::fcntl(directoryFd, F_DUPFD_CLOEXEC, 0));
  if (!directory.valid()) {
    return std::nullopt;
  }
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = prefix + "." + randomSuffix();
    FileDescriptor fd(::openat(directory.get(), name.c_str(),
                               O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (fd.valid()) {
      return TemporaryFile(std::move(directory), std::move(fd), std::move(name));
    }
    if (errno != EEXIST) {
      return std::nullopt;
    }
  }
  errno = EEXIST;
  return std::nullopt;
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
