#pragma once

#include <unistd.h>
#include <utility>

namespace lipo {

// An owned file descriptor, closed when the owner goes. Move-only so that a descriptor cannot
// be closed twice by accident.
class FileDescriptor {
public:
  FileDescriptor() = default;
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  FileDescriptor& operator=(FileDescriptor&& other) noexcept {
    if (this != &other) {
      reset(std::exchange(other.fd_, -1));
    }
    return *this;
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() { reset(); }

  int get() const { return fd_; }
  bool isValid() const { return fd_ >= 0; }

  // Closes the current descriptor (close is not retried on EINTR: on Linux the descriptor is
  // released either way) and takes `fd`.
  void reset(int fd = -1) {
    if (fd_ >= 0) {
      ::close(fd_);
    }
    fd_ = fd;
  }

private:
  int fd_ = -1;
};

} // namespace lipo
