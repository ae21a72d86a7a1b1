#include "platform/security/RootControlledPath.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>

namespace platform::security {

bool isRootControlled(const struct stat& status) {
  return status.st_uid == 0 && (status.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

bool openDirectoryWithoutLinks(const std::string& path, bool requireRootControlled,
                               UniqueFd& directory, std::string& reason) {
  if (path.empty() || path.front() != '/') {
    reason = path + " is not an absolute path";
    return false;
  }
  UniqueFd current(::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  size_t start = 1;
  while (true) {
    struct stat status {};
    if (!current.valid() || ::fstat(current.get(), &status) != 0) {
      reason = path + ": " + std::strerror(errno);
      return false;
    }
    if (requireRootControlled && !isRootControlled(status)) {
      reason = path + " (or a parent) is writable by someone other than root";
      return false;
    }
    if (start >= path.size()) {
      break;
    }
    const size_t end = path.find('/', start);
    const std::string component =
        path.substr(start, end == std::string::npos ? std::string::npos : end - start);
    start = end == std::string::npos ? path.size() : end + 1;
    if (component.empty() || component == ".") {
      continue;
    }
    if (component == "..") {
      reason = path + " must not contain \"..\"";
      return false;
    }
    current = UniqueFd(::openat(current.get(), component.c_str(),
                                O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  }
  directory = std::move(current);
  return true;
}

} // namespace platform::security
