#include "tasks/files/KLVFileDataAccessService.h"

#include "platform/posix/ReadWrite.h"
#include "platform/posix/RetryOnInterrupt.h"
#include "platform/posix/UniqueFd.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tasks {

using platform::NSError;
using platform::UniqueFd;

namespace {

// Opens a regular file for `access` (O_RDONLY or O_RDWR); an invalid descriptor with `error`
// set otherwise.
UniqueFd openRegularFile(const std::string& path, int access, NSError* error) {
  UniqueFd fd(::open(path.c_str(), access | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  if (!fd) {
    platform::setError(error, NSError::fileManagerError(errno, path, access != O_RDONLY));
    return fd;
  }
  struct stat info;
  if (::fstat(fd.get(), &info) != 0) {
    platform::setError(error, NSError::fileManagerError(errno, path, access != O_RDONLY));
    return UniqueFd();
  }
  if (!S_ISREG(info.st_mode)) {
    const int reason = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
    platform::setError(error, NSError::fileManagerError(reason, path, access != O_RDONLY));
    return UniqueFd();
  }
  return fd;
}

// Reads up to `length` bytes from offset 0, in chunks so that a large limit costs memory only
// for what the file holds. Errno is kept for the caller on failure.
std::optional<platform::Bytes> readPrefix(int fd, size_t length) {
  constexpr size_t kChunkLength = 64 * 1024;
  platform::Bytes bytes;
  while (bytes.size() < length) {
    const size_t filled = bytes.size();
    const size_t wanted = std::min(kChunkLength, length - filled);
    bytes.resize(filled + wanted);
    const ssize_t got = platform::posix::retryOnInterrupt(
        [&] { return ::pread(fd, bytes.data() + filled, wanted, static_cast<off_t>(filled)); });
    const int readErrno = errno;
    bytes.resize(filled + static_cast<size_t>(std::max<ssize_t>(got, 0)));
    if (got < 0) {
      errno = readErrno;
      return std::nullopt;
    }
    if (got == 0) {
      break;
    }
  }
  return bytes;
}

} // namespace

std::optional<platform::Bytes> KLVFileDataAccessService::readDataWithURL(const platform::URL& url,
                                                                         size_t length,
                                                                         NSError* error) const {
  const std::string path = url.path();
  UniqueFd fd = openRegularFile(path, O_RDONLY, error);
  if (!fd) {
    return std::nullopt;
  }
  auto bytes = readPrefix(fd.get(), length);
  if (!bytes) {
    platform::setError(error, NSError::fileManagerError(errno, path, false));
  }
  return bytes;
}

bool KLVFileDataAccessService::replaceDataWithURL(const platform::URL& url, size_t length,
                                                  NSError* error,
                                                  const ReplacementBlock& block) const {
  const std::string path = url.path();
  UniqueFd fd = openRegularFile(path, O_RDWR, error);
  if (!fd) {
    return false;
  }
  // One byte more than the limit tells a file that fits from one that does not.
  const size_t probeLength = length == SIZE_MAX ? length : length + 1;
  auto contents = readPrefix(fd.get(), probeLength);
  if (!contents) {
    platform::setError(error, NSError::fileManagerError(errno, path, false));
    return false;
  }
  if (contents->size() > length) {
    platform::setError(error, NSError::fileManagerError(EFBIG, path, false));
    return false;
  }

  bool stop = false;
  auto replacement = block(*contents, stop);
  if (stop || !replacement) {
    return false;
  }
  if (platform::posix::writeAllAt(fd.get(), replacement->data(), replacement->size(), 0) != 0 ||
      ::ftruncate(fd.get(), static_cast<off_t>(replacement->size())) != 0) {
    platform::setError(error, NSError::fileManagerError(errno, path, true));
    return false;
  }
  return true;
}

} // namespace tasks
