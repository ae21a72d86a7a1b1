#include "tasks/files/KLVDirectoryEmptiness.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

namespace tasks {

using platform::NSError;

namespace {
NSError directoryError(int64_t code, int errnoValue) {
  return NSError(kKLVFastDirectoryEnumeratorErrorDomain, code,
                 {{platform::NSUnderlyingErrorKey,
                   std::make_shared<const NSError>(NSError::posix(errnoValue))}});
}
} // namespace

bool klv_isDirectoryEmptyAtPath(const std::optional<std::string>& path,
                                const std::vector<std::string>& ignoreEntries, NSError* error) {
  if (!path) {
    platform::setError(error,
                       NSError(kKLVFastDirectoryEnumeratorErrorDomain, kKLVFastDirectoryNoPath));
    return false;
  }
  if (path->empty()) {
    platform::setError(error,
                       NSError(kKLVFastDirectoryEnumeratorErrorDomain, kKLVFastDirectoryEmptyPath));
    return false;
  }
  const int fd = ::open(path->c_str(), O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC);
  DIR* directory = fd >= 0 ? ::fdopendir(fd) : nullptr;
  if (directory == nullptr) {
    const int openError = errno;
    if (fd >= 0) {
      ::close(fd);
    }
    platform::setError(error, directoryError(kKLVFastDirectoryOpenFailed, openError));
    return false;
  }
  bool empty = true;
  while (true) {
    errno = 0;
    const dirent* entry = ::readdir(directory);
    if (entry == nullptr) {
      if (errno != 0) {
        empty = false;
        platform::setError(error, directoryError(kKLVFastDirectoryReadFailed, errno));
      }
      break;
    }
    const char* name = entry->d_name;
    const bool ignored =
        std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0 ||
        std::find(ignoreEntries.begin(), ignoreEntries.end(), name) != ignoreEntries.end();
    if (!ignored) {
      empty = false;
      break;
    }
  }
  if (::closedir(directory) != 0) {
    platform::setError(error, directoryError(kKLVFastDirectoryCloseFailed, errno));
  }
  return empty;
}

} // namespace tasks
