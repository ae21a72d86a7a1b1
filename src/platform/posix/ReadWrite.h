#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace platform::posix {

// Whole transfers through one descriptor, retrying short transfers and EINTR. Each returns 0 or
// the errno value of the failure (EIO when the kernel moved no byte, or the file ended before
// the range did) and leaves that value in errno too.

// Writes all `length` bytes at the descriptor's file offset (a file, a pipe, a socket).
int writeAll(int fd, const void* data, size_t length);
inline int writeAll(int fd, std::string_view bytes) {
  return writeAll(fd, bytes.data(), bytes.size());
}

// Writes all `length` bytes at `offset` of a file; EFBIG when the range does not fit an off_t.
int writeAllAt(int fd, const void* data, size_t length, uint64_t offset);

// Reads exactly `length` bytes at `offset` of a file.
int readFully(int fd, void* buffer, size_t length, uint64_t offset);

} // namespace platform::posix
