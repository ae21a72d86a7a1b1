#include "tasks/files/KLVFileSizeAccessService.h"

#include "tasks/files/KLVURLProperties.h"

#include <cerrno>
#include <sys/stat.h>

namespace tasks {

using platform::NSError;

namespace {

const char* fileTypeName(mode_t mode) {
  if (S_ISDIR(mode)) {
    return "NSFileTypeDirectory";
  }
  if (S_ISCHR(mode)) {
    return "NSFileTypeCharacterSpecial";
  }
  if (S_ISBLK(mode)) {
    return "NSFileTypeBlockSpecial";
  }
  if (S_ISFIFO(mode)) {
    return "NSFileTypeNamedPipe";
  }
  if (S_ISSOCK(mode)) {
    return "NSFileTypeSocket";
  }
  return nullptr;
}

platform::UserInfo withUnderlying(const platform::URL& url, int errnoValue) {
  return {{platform::NSURLErrorKey, url},
          {platform::NSUnderlyingErrorKey,
           std::make_shared<const NSError>(NSError::posix(errnoValue))}};
}

} // namespace

uint64_t KLVFileSizeAccessService::fileSizeWithURL(const platform::URL& url, NSError* error) const {
  const std::string path = klv_fileSystemPath(url);
  struct stat info;
  if (path.empty() || ::stat(path.c_str(), &info) != 0) {
    platform::setError(error,
                       NSError(kFileSizeAccessErrorDomain, kFileSizeAccessInvalidTypeErrorCode,
                               withUnderlying(url, path.empty() ? ENOENT : errno)));
    return kKLVInvalidFileSize;
  }
  if (const char* typeName = fileTypeName(info.st_mode)) {
    platform::setError(
        error, NSError(kFileSizeAccessErrorDomain, kFileSizeAccessInvalidTypeErrorCode,
                       {{platform::NSURLErrorKey, url},
                        {platform::NSDebugDescriptionErrorKey,
                         std::string("Invalid file type (") + typeName + ") for size reading"}}));
    return kKLVInvalidFileSize;
  }
  // The logical size, as the platform's file size resource value gives it. Nothing is opened:
  // opening a file as root can have side effects that measuring must not have.
  if (info.st_size < 0) {
    platform::setError(error,
                       NSError(kFileSizeAccessErrorDomain, kFileSizeAccessOpenFailedErrorCode,
                               withUnderlying(url, EOVERFLOW)));
    return kKLVInvalidFileSize;
  }
  return static_cast<uint64_t>(info.st_size);
}

} // namespace tasks
