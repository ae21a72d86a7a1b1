#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <unistd.h>

namespace platform {

// Reads exactly `length` bytes at `offset` of `fd`, retrying short reads and EINTR. False when
// the file ends first or a read fails.
inline bool readFully(int fd, void* buffer, size_t length, uint64_t offset) {
  auto* out = static_cast<uint8_t*>(buffer);
  size_t done = 0;
  while (done < length) {
    const ssize_t got = ::pread(fd, out + done, length - done, static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got <= 0) {
      return false;
    }
    done += static_cast<size_t>(got);
  }
  return true;
}

} // namespace platform
