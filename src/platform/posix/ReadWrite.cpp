#include "platform/posix/ReadWrite.h"

#include "platform/posix/ErrnoResult.h"
#include "platform/posix/RetryOnInterrupt.h"

#include <algorithm>
#include <cerrno>
#include <limits>
#include <unistd.h>

namespace platform::posix {
namespace {

// The largest amount moved by one system call; keeps every count within ssize_t and off_t.
constexpr uint64_t kMaxChunk = uint64_t(1) << 30;

bool fitsOffset(uint64_t offset, uint64_t length) {
  constexpr uint64_t maxOffset = uint64_t(std::numeric_limits<off_t>::max());
  return offset <= maxOffset && length <= maxOffset - offset;
}

// Moves `length` bytes with `transfer(bytes, chunk, offset)` until all are moved or one call
// fails or moves nothing.
template <typename Byte, typename Transfer>
int transferAll(Byte* bytes, size_t length, uint64_t offset, Transfer transfer) {
  while (length > 0) {
    const size_t chunk = size_t(std::min<uint64_t>(length, kMaxChunk));
    const ssize_t done = retryOnInterrupt([&] { return transfer(bytes, chunk, offset); });
    if (done < 0) {
      return errno;
    }
    if (done == 0) {
      return failWithErrno(EIO);
    }
    bytes += done;
    offset += uint64_t(done);
    length -= size_t(done);
  }
  return 0;
}

} // namespace

int writeAll(int fd, const void* data, size_t length) {
  return transferAll(
      static_cast<const uint8_t*>(data), length, 0,
      [fd](const uint8_t* bytes, size_t chunk, uint64_t) { return ::write(fd, bytes, chunk); });
}

int writeAllAt(int fd, const void* data, size_t length, uint64_t offset) {
  if (!fitsOffset(offset, length)) {
    return failWithErrno(EFBIG);
  }
  return transferAll(static_cast<const uint8_t*>(data), length, offset,
                     [fd](const uint8_t* bytes, size_t chunk, uint64_t at) {
                       return ::pwrite(fd, bytes, chunk, off_t(at));
                     });
}

int readFully(int fd, void* buffer, size_t length, uint64_t offset) {
  if (!fitsOffset(offset, length)) {
    return failWithErrno(EIO);
  }
  return transferAll(static_cast<uint8_t*>(buffer), length, offset,
                     [fd](uint8_t* bytes, size_t chunk, uint64_t at) {
                       return ::pread(fd, bytes, chunk, off_t(at));
                     });
}

} // namespace platform::posix
