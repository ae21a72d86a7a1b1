#include "platform/posix/AtomicFile.h"

#include "platform/posix/ErrnoResult.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

namespace platform::posix {
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

std::optional<AtomicFile> AtomicFile::create(int directoryFd, const std::string& prefix,
                                             mode_t mode) {
  UniqueFd directory(::fcntl(directoryFd, F_DUPFD_CLOEXEC, 0));
  if (!directory.valid()) {
    return std::nullopt;
  }
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = prefix + randomSuffix();
    UniqueFd fd(::openat(directory.get(), name.c_str(),
                         O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
    if (fd.valid()) {
      return AtomicFile(std::move(directory), std::move(fd), std::move(name));
    }
    if (errno != EEXIST) {
      return std::nullopt;
    }
  }
  errno = EEXIST;
  return std::nullopt;
}

std::optional<AtomicFile> AtomicFile::create(const std::string& directoryPath,
                                             const std::string& prefix, mode_t mode) {
  UniqueFd directory(::open(directoryPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!directory.valid()) {
    return std::nullopt;
  }
  return create(directory.get(), prefix, mode);
}

AtomicFile::~AtomicFile() {
  if (!placed_ && fd_.valid() && nameRefersToFile()) {
    ::unlinkat(directory_.get(), name_.c_str(), 0);
  }
}

bool AtomicFile::nameRefersToFile() const {
  struct stat byName {};
  struct stat byDescriptor {};
  return ::fstatat(directory_.get(), name_.c_str(), &byName, AT_SYMLINK_NOFOLLOW) == 0 &&
         ::fstat(fd_.get(), &byDescriptor) == 0 && byName.st_dev == byDescriptor.st_dev &&
         byName.st_ino == byDescriptor.st_ino;
}

std::optional<AtomicFile::OwnershipFailure>
AtomicFile::keepOwnerAndMode(uid_t owner, gid_t group, mode_t mode, bool ownerMayFail) {
  using Step = OwnershipFailure::Step;
  struct stat current {};
  if (::fstat(fd_.get(), &current) != 0) {
    return OwnershipFailure{Step::examine, errno};
  }
  if ((current.st_uid != owner || current.st_gid != group) &&
      ::fchown(fd_.get(), owner, group) != 0 && !(ownerMayFail && errno == EPERM)) {
    return OwnershipFailure{Step::owner, errno};
  }
  if (::fchmod(fd_.get(), mode) != 0) {
    return OwnershipFailure{Step::mode, errno};
  }
  return std::nullopt;
}

int AtomicFile::commit(const std::string& targetName, Durability durability) {
  if (durability != Durability::none && ::fsync(fd_.get()) != 0) {
    return errno;
  }
  if (!nameRefersToFile()) {
    return failWithErrno(ESTALE); // something else took the name; never move that into place
  }
  if (::renameat(directory_.get(), name_.c_str(), directory_.get(), targetName.c_str()) != 0) {
    return errno;
  }
  placed_ = true;
  if (durability == Durability::fileAndDirectory && ::fsync(directory_.get()) != 0) {
    return errno;
  }
  return 0;
}

} // namespace platform::posix
