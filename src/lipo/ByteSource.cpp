#include "lipo/ByteSource.h"

#include "platform/posix/ReadWrite.h"
#include "platform/posix/RetryOnInterrupt.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace lipo {
namespace {

// The largest amount moved by one system call; keeps every count within ssize_t and off_t.
constexpr uint64_t kMaxChunk = uint64_t(1) << 30;
// The buffer of the user-space fallback copy: small, so memory stays flat for any file size.
constexpr size_t kFallbackBufferSize = size_t(1) << 20;

bool fitsOffset(uint64_t offset, uint64_t length) {
  constexpr uint64_t maxOffset = uint64_t(std::numeric_limits<off_t>::max());
  return offset <= maxOffset && length <= maxOffset - offset;
}

// Copies through a small buffer; used where the kernel cannot copy between the two files.
int copyThroughBuffer(int inputFd, uint64_t offset, uint64_t length, int outputFd,
                      uint64_t outputOffset) {
  std::vector<uint8_t> buffer(size_t(std::min<uint64_t>(length, kFallbackBufferSize)));
  while (length > 0) {
    const size_t chunk = size_t(std::min<uint64_t>(length, buffer.size()));
    if (int status = platform::posix::readFully(inputFd, buffer.data(), chunk, offset);
        status != 0) {
      return status;
    }
    if (int status = platform::posix::writeAllAt(outputFd, buffer.data(), chunk, outputOffset);
        status != 0) {
      return status;
    }
    offset += chunk;
    outputOffset += chunk;
    length -= chunk;
  }
  return 0;
}

bool kernelCopyUnsupported(int error) {
  return error == EXDEV || error == EINVAL || error == ENOSYS || error == EOPNOTSUPP ||
         error == EBADF;
}

} // namespace

int FileByteSource::read(uint64_t offset, void* buffer, size_t length) const {
  if (!fitsOffset(offset, length)) {
    return EIO;
  }
  return platform::posix::readFully(fd_.get(), buffer, length, offset);
}

namespace {

// Copies one range that holds data. The kernel copies (or shares extents) without the bytes
// passing through this process.
int copyDataRange(int inputFd, uint64_t offset, uint64_t length, int outputFd,
                  uint64_t outputOffset) {
  while (length > 0) {
    loff_t in = loff_t(offset);
    loff_t out = loff_t(outputOffset);
    const size_t chunk = size_t(std::min(length, kMaxChunk));
    const ssize_t done = platform::posix::retryOnInterrupt(
        [&] { return ::copy_file_range(inputFd, &in, outputFd, &out, chunk, 0); });
    if (done < 0) {
      if (kernelCopyUnsupported(errno)) {
        return copyThroughBuffer(inputFd, offset, length, outputFd, outputOffset);
      }
      return errno;
    }
    if (done == 0) {
      return EIO; // the file ended before the range did
    }
    offset += uint64_t(done);
    outputOffset += uint64_t(done);
    length -= uint64_t(done);
  }
  return 0;
}

} // namespace

int FileByteSource::copyTo(uint64_t offset, uint64_t length, int outputFd,
                           uint64_t outputOffset) const {
  if (!fitsOffset(offset, length) || !fitsOffset(outputOffset, length)) {
    return EFBIG;
  }
  struct stat status {};
  if (::fstat(fd_.get(), &status) != 0) {
    return errno;
  }
  if (uint64_t(status.st_size) < offset + length) {
    return EIO; // the file ended before the range did
  }
  // Only the ranges that hold data are copied: holes stay holes in the output, which the
  // caller sizes in the end. Where the file system cannot tell, everything is data.
  const uint64_t end = offset + length;
  uint64_t position = offset;
  while (position < end) {
    const off_t data = ::lseek(fd_.get(), off_t(position), SEEK_DATA);
    if (data < 0 && errno == ENXIO) {
      return 0; // nothing but a hole up to the end of the file
    }
    if (data < 0) {
      return copyDataRange(fd_.get(), position, end - position, outputFd,
                           outputOffset + (position - offset));
    }
    if (uint64_t(data) >= end) {
      return 0;
    }
    const off_t hole = ::lseek(fd_.get(), data, SEEK_HOLE);
    const uint64_t dataEnd = hole < 0 ? end : std::min(uint64_t(hole), end);
    if (int failure = copyDataRange(fd_.get(), uint64_t(data), dataEnd - uint64_t(data), outputFd,
                                    outputOffset + (uint64_t(data) - offset));
        failure != 0) {
      return failure;
    }
    position = dataEnd;
  }
  return 0;
}

int MemoryByteSource::read(uint64_t offset, void* buffer, size_t length) const {
  if (offset > bytes_.size() || length > bytes_.size() - offset) {
    return EIO;
  }
  if (length > 0) {
    std::memcpy(buffer, bytes_.data() + offset, length);
  }
  return 0;
}

int MemoryByteSource::copyTo(uint64_t offset, uint64_t length, int outputFd,
                             uint64_t outputOffset) const {
  if (offset > bytes_.size() || length > bytes_.size() - offset) {
    return EIO;
  }
  return platform::posix::writeAllAt(outputFd, bytes_.data() + offset, size_t(length),
                                     outputOffset);
}

} // namespace lipo
