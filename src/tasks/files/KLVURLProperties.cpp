#include "tasks/files/KLVURLProperties.h"

#include "utilities/UniqueFd.h"

#include <array>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tasks {

namespace {
std::optional<mode_t> linkMode(const std::string& path) {
  struct stat info;
  if (::lstat(path.c_str(), &info) != 0) {
    return std::nullopt;
  }
  return info.st_mode;
}
} // namespace

std::string klv_fileSystemPath(const platform::URL& url) {
  if (!url.isFileURL()) {
    return {};
  }
  std::string path = url.path();
  return path.starts_with('/') ? path : std::string();
}

bool klv_isDirectory(const std::string& path) {
  auto mode = linkMode(path);
  return mode && S_ISDIR(*mode);
}

bool klv_isExecutable(const std::string& path) {
  auto mode = linkMode(path);
  return mode && !S_ISLNK(*mode) && (*mode & (S_IXUSR | S_IXGRP | S_IXOTH)) != 0;
}

bool klv_isSymbolicLink(const std::string& path) {
  auto mode = linkMode(path);
  return mode && S_ISLNK(*mode);
}

bool klv_isAliasFile(const std::string& path) {
  return klv_isSymbolicLink(path);
}

bool klv_isRegularFile(const std::string& path) {
  auto mode = linkMode(path);
  return mode && S_ISREG(*mode);
}

std::optional<std::string> klv_canonicalPath(const std::string& path) {
  char resolved[PATH_MAX];
  if (::realpath(path.c_str(), resolved) == nullptr) {
    return std::nullopt;
  }
  return std::string(resolved);
}

bool klv_isMachOBinary(const std::string& path) {
  struct stat status;
  if (::lstat(path.c_str(), &status) != 0) {
    return false;
  }
  return klv_isMachOBinary(path, status);
}

bool klv_isMachOBinary(const std::string& path, const struct stat& status) {
  if (!S_ISREG(status.st_mode) || status.st_size < 4) {
    return false;
  }
  // O_NOFOLLOW and O_NONBLOCK: the item checked above is the one read, and a file swapped for
  // a pipe in between cannot block the agent.
  utilities::UniqueFd fd(
      ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  struct stat info;
  if (!fd || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
    return false;
  }
  std::array<uint8_t, 4> bytes{};
  if (::read(fd.get(), bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
    return false;
  }
  const uint32_t word = static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
                        static_cast<uint32_t>(bytes[2]) << 16 |
                        static_cast<uint32_t>(bytes[3]) << 24;
  switch (word) {
  case 0xfeedface:
  case 0xfeedfacf:
  case 0xcefaedfe:
  case 0xcffaedfe:
  case 0xcafebabe:
  case 0xbebafeca:
    return true;
  default:
    return false;
  }
}

} // namespace tasks
