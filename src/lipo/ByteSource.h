#pragma once

#include "lipo/FileDescriptor.h"
#include "platform/foundation/Base64.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace lipo {

// The bytes of one binary file as the reader found them. Slices refer to ranges of a source
// instead of holding copies, so that a file of any size is handled with a small, fixed amount
// of memory: the writer copies the ranges straight from the source into its output.
class ByteSource {
public:
  virtual ~ByteSource() = default;

  // The number of bytes the source had when it was opened.
  virtual uint64_t size() const = 0;
  // Reads exactly `length` bytes at `offset`. Returns 0, or an errno value (EIO when the
  // source ended early, for example because the file shrank after it was opened).
  virtual int read(uint64_t offset, void* buffer, size_t length) const = 0;
  // Copies the `length` bytes at `offset` into the file `outputFd` at `outputOffset`.
  // Returns 0 or an errno value, as `read`.
  virtual int copyTo(uint64_t offset, uint64_t length, int outputFd,
                     uint64_t outputOffset) const = 0;
};

// A regular file opened for reading. The descriptor keeps the file's contents reachable even
// when its path is replaced later (as the writer does).
class FileByteSource final : public ByteSource {
public:
  FileByteSource(FileDescriptor fd, uint64_t size) : fd_(std::move(fd)), size_(size) {}

  uint64_t size() const override { return size_; }
  int read(uint64_t offset, void* buffer, size_t length) const override;
  int copyTo(uint64_t offset, uint64_t length, int outputFd, uint64_t outputOffset) const override;

private:
  FileDescriptor fd_;
  uint64_t size_;
};

// Bytes held in memory (slices built by callers, and the fuzz target).
class MemoryByteSource final : public ByteSource {
public:
  explicit MemoryByteSource(platform::Bytes bytes) : bytes_(std::move(bytes)) {}

  uint64_t size() const override { return bytes_.size(); }
  int read(uint64_t offset, void* buffer, size_t length) const override;
  int copyTo(uint64_t offset, uint64_t length, int outputFd, uint64_t outputOffset) const override;

private:
  platform::Bytes bytes_;
};

} // namespace lipo
