#include "tasks/files/KLVPlistService.h"

#include "platform/foundation/UniqueFd.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace tasks {
namespace {

bool writeAll(int fd, const std::string& bytes) {
  const char* data = bytes.data();
  size_t left = bytes.size();
  while (left > 0) {
    const ssize_t written = ::write(fd, data, left);
    if (written < 0 && errno == EINTR) {
      continue;
    }
    if (written <= 0) {
      if (written == 0) {
        errno = EIO;
      }
      return false;
    }
    data += written;
    left -= static_cast<size_t>(written);
  }
  return true;
}

} // namespace

bool KLVPlistService::writeDictionary(const platform::PropertyList& dictionary,
                                      const platform::URL& url, platform::NSError* error) const {
  const std::string path = url.path();
  if (!url.isFileURL() || path.empty() || path.front() != '/') {
    platform::setError(error, platform::NSError::cocoaFile(
                                  platform::NSFileWriteInvalidFileNameError, url.absoluteString()));
    return false;
  }
  if (dictionary.isNull() || dictionary.root().type() != platform::PlistRef::Type::dictionary) {
    platform::setError(error,
                       platform::NSError::cocoaFile(platform::NSFileWriteUnknownError, path));
    return false;
  }
  const std::string bytes = dictionary.toXML();

  platform::UniqueFd fd(
      ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!fd) {
    platform::setError(error, platform::NSError::fileManagerError(errno, path, true));
    return false;
  }
  if (!writeAll(fd.get(), bytes)) {
    const int writeErrno = errno;
    ::unlink(path.c_str());
    platform::setError(error, platform::NSError::fileManagerError(writeErrno, path, true));
    return false;
  }
  return true;
}

} // namespace tasks
