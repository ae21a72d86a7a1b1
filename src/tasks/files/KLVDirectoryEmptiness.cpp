#include "tasks/files/KLVDirectoryEmptiness.h"

#include "platform/posix/DirectoryReader.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>

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
  auto directory = platform::posix::DirectoryReader::open(*path);
  if (!directory) {
    platform::setError(error, directoryError(kKLVFastDirectoryOpenFailed, errno));
    return false;
  }
  bool empty = true;
  while (true) {
    const auto name = directory->next();
    if (!name) {
      if (directory->error() != 0) {
        empty = false;
        platform::setError(error, directoryError(kKLVFastDirectoryReadFailed, directory->error()));
      }
      break;
    }
    if (std::find(ignoreEntries.begin(), ignoreEntries.end(), *name) == ignoreEntries.end()) {
      empty = false;
      break;
    }
  }
  if (const int closeError = directory->close(); closeError != 0) {
    platform::setError(error, directoryError(kKLVFastDirectoryCloseFailed, closeError));
  }
  return empty;
}

} // namespace tasks
