#include "tasks/files/KLVPlistService.h"

#include "platform/posix/ReadWrite.h"
#include "platform/posix/UniqueFd.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace tasks {

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
  if (const int writeErrno = platform::posix::writeAll(fd.get(), bytes); writeErrno != 0) {
    ::unlink(path.c_str());
    platform::setError(error, platform::NSError::fileManagerError(writeErrno, path, true));
    return false;
  }
  return true;
}

} // namespace tasks
