#include "platform/posix/DirectoryReader.h"

#include <cerrno>
#include <fcntl.h>
#include <utility>

namespace platform::posix {

std::optional<DirectoryReader> DirectoryReader::open(const std::string& path, int extraFlags) {
  UniqueFd directory(
      ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC | extraFlags));
  if (!directory) {
    return std::nullopt;
  }
  return adopt(std::move(directory));
}

std::optional<DirectoryReader> DirectoryReader::adopt(UniqueFd directory) {
  DIR* stream = directory ? ::fdopendir(directory.get()) : nullptr;
  if (stream == nullptr) {
    const int error = directory ? errno : EBADF;
    directory.reset();
    errno = error;
    return std::nullopt;
  }
  directory.release(); // now owned by the stream
  return DirectoryReader(stream);
}

DirectoryReader::DirectoryReader(DirectoryReader&& other) noexcept
    : stream_(std::exchange(other.stream_, nullptr)), error_(other.error_) {}

DirectoryReader& DirectoryReader::operator=(DirectoryReader&& other) noexcept {
  if (this != &other) {
    close();
    stream_ = std::exchange(other.stream_, nullptr);
    error_ = other.error_;
  }
  return *this;
}

DirectoryReader::~DirectoryReader() {
  close();
}

std::optional<std::string_view> DirectoryReader::next() {
  if (stream_ == nullptr) {
    error_ = EBADF;
    return std::nullopt;
  }
  for (;;) {
    errno = 0;
    const dirent* entry = ::readdir(stream_);
    if (entry == nullptr) {
      error_ = errno;
      return std::nullopt;
    }
    const char* name = entry->d_name;
    if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) {
      continue;
    }
    return std::string_view(name);
  }
}

int DirectoryReader::fd() const {
  return stream_ != nullptr ? ::dirfd(stream_) : -1;
}

int DirectoryReader::close() {
  if (stream_ == nullptr) {
    return 0;
  }
  const int result = ::closedir(std::exchange(stream_, nullptr));
  return result == 0 ? 0 : errno;
}

} // namespace platform::posix
