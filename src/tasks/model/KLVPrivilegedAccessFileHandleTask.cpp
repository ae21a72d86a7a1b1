#include "tasks/model/KLVPrivilegedAccessFileHandleTask.h"

#include "platform/archive/FileHandle.h"
#include "tasks/files/KLVURLProperties.h"
#include "tasks/model/PrivilegedAccessErrors.h"
#include "utilities/UniqueFd.h"

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>

namespace tasks {

using platform::NSError;

const platform::archive::ObjectClass& KLVPrivilegedAccessFileHandleTask::classObject() {
  static const platform::archive::ObjectClass objectClass(
      "KLVPrivilegedAccessFileHandleTask", &KLVPrivilegedAccessTask::classObject(), true,
      [](platform::archive::KeyedUnarchiver& coder) -> platform::archive::ObjectPtr {
        auto url = coder.decodeURLForKey("url");
        if (!url) {
          return nullptr;
        }
        auto uuid = decodeUUID(coder);
        if (!uuid) {
          return nullptr;
        }
        const int64_t type = coder.decodeIntegerForKey("fileHandleType");
        if (coder.error()) {
          return nullptr;
        }
        return std::make_shared<KLVPrivilegedAccessFileHandleTask>(*uuid, std::move(*url), type);
      });
  return objectClass;
}

ResultPtr KLVPrivilegedAccessFileHandleTask::perform() {
  int accessMode = 0;
  switch (fileHandleType_) {
  case reading:
    accessMode = O_RDONLY;
    break;
  case writing:
    accessMode = O_WRONLY;
    break;
  case updating:
    accessMode = O_RDWR;
    break;
  default:
    return KLVResultObject::failureResultWithError(NSError(
        kKLVPrivilegedAccessErrorDomain, kKLVPrivilegedAccessUnsupportedFileHandleTypeErrorCode,
        {{platform::NSURLErrorKey, url()}}));
  }
  const bool writes = fileHandleType_ != reading;
  const std::string path = klv_fileSystemPath(url());
  // A path handle first: it opens nothing, so the type is known before a real open (opening
  // a device or a pipe as root can have side effects or block). The real open goes through the
  // handle and so reaches exactly the inode that was checked. Never created, never truncated.
  utilities::UniqueFd handle(path.empty() ? (errno = ENOENT, -1)
                                          : ::open(path.c_str(), O_PATH | O_CLOEXEC));
  struct stat info;
  if (!handle || ::fstat(handle.get(), &info) != 0) {
    return KLVResultObject::failureResultWithError(NSError::fileManagerError(errno, path, writes));
  }
  if (!S_ISREG(info.st_mode)) {
    const int refusal = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
    return KLVResultObject::failureResultWithError(
        NSError::fileManagerError(refusal, path, writes));
  }
  const std::string handlePath = "/proc/self/fd/" + std::to_string(handle.get());
  utilities::UniqueFd fd(::open(handlePath.c_str(), accessMode | O_NOCTTY | O_CLOEXEC));
  if (!fd) {
    return KLVResultObject::failureResultWithError(NSError::fileManagerError(errno, path, writes));
  }
  return KLVResultObject::resultWithValue(platform::archive::NSFileHandle::make(fd.release()),
                                          std::nullopt);
}

void KLVPrivilegedAccessFileHandleTask::encodeWithCoder(
    platform::archive::KeyedArchiver& coder) const {
  KLVURLTask::encodeWithCoder(coder);
  coder.encodeInteger(fileHandleType_, "fileHandleType");
}

bool KLVPrivilegedAccessFileHandleTask::isEqual(const platform::archive::Object& other) const {
  return KLVURLTask::isEqual(other) &&
         static_cast<const KLVPrivilegedAccessFileHandleTask&>(other).fileHandleType_ ==
             fileHandleType_;
}

} // namespace tasks
