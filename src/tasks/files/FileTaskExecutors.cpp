#include "tasks/files/FileTaskExecutors.h"

#include "platform/archive/Collections.h"
#include "platform/archive/FileHandle.h"
#include "platform/archive/Values.h"
#include "tasks/files/KLVDirectoryEmptiness.h"
#include "tasks/files/KLVFileRemoverService.h"
#include "tasks/files/KLVFileSizeAccessService.h"
#include "tasks/files/KLVFileTreeEnumerator.h"
#include "tasks/files/KLVURLProperties.h"
#include "tasks/model/KLVPrivilegedAccessEmptyDirectoryFetcherTask.h"
#include "tasks/model/KLVPrivilegedAccessEnumeratorTask.h"
#include "tasks/model/KLVPrivilegedAccessFileHandleTask.h"
#include "tasks/model/KLVPrivilegedAccessFileRemoverTask.h"
#include "tasks/model/KLVPrivilegedAccessFileSizeTask.h"
#include "tasks/model/KLVPrivilegedURL.h"
#include "tasks/model/PrivilegedAccessErrors.h"
#include "utilities/UniqueFd.h"

#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace tasks {
namespace {

using platform::NSError;

ResultPtr removeFile(KLVPrivilegedAccessFileRemoverTask& task) {
  NSError error;
  const bool removed = KLVFileRemoverService().removeFileWithURL(task.url(), false, &error);
  return KLVResultObject::resultWithStatus(removed, error.domain().empty() ? std::nullopt
                                                                           : std::optional(error));
}

ResultPtr measureFile(KLVPrivilegedAccessFileSizeTask& task) {
  NSError error;
  const uint64_t size = KLVFileSizeAccessService().fileSizeWithURL(task.url(), &error);
  if (size == kKLVInvalidFileSize) {
    return KLVResultObject::failureResultWithError(error);
  }
  // Numbers travel as signed 64-bit integers; no file comes near the sign bit.
  return KLVResultObject::resultWithValue(
      platform::archive::NSNumber::make(static_cast<int64_t>(size)),
      error.domain().empty() ? std::nullopt : std::optional(error));
}

ResultPtr checkEmptiness(KLVPrivilegedAccessEmptyDirectoryFetcherTask& task) {
  NSError error;
  const bool empty =
      klv_isDirectoryEmptyAtPath(klv_fileSystemPath(task.url()), {".DS_Store"}, &error);
  return KLVResultObject::resultWithValue(platform::archive::NSNumber::make(!empty),
                                          error.domain().empty() ? std::nullopt
                                                                 : std::optional(error));
}

// Collects one KLVPrivilegedURL per item of a walk (folders only when asked), never symbolic
// links, and keeps the error of a root that could not be walked.
class EnumerationCollector final : public KLVFileTreeEnumeratorDelegate {
public:
  explicit EnumerationCollector(bool shouldCollectDirectory)
      : shouldCollectDirectory_(shouldCollectDirectory) {}

  std::vector<platform::archive::ObjectPtr>& enumeratedFileURLs() { return enumeratedFileURLs_; }
  const std::optional<NSError>& rootError() const { return rootError_; }

private:
  bool iterateDirectory(KLVFileTreeEnumerator&, const KLVFileTreeItem& item) override {
    // The only alias files here are symbolic links, and the walk reports those as files.
    if (shouldCollectDirectory_ && !item.isSymbolicLink()) {
      addItem(item);
    }
    return true;
  }
  void iterateFile(KLVFileTreeEnumerator&, const KLVFileTreeItem& item) override {
    if (!item.isSymbolicLink()) {
      addItem(item);
    }
  }
  void catchError(KLVFileTreeEnumerator&, const NSError& error) override {
    if (!rootError_) {
      rootError_ = error;
    }
  }
  void addItem(const KLVFileTreeItem& item) {
    enumeratedFileURLs_.push_back(std::make_shared<KLVPrivilegedURL>(
        item.path, item.canonicalPath, item.isDirectory(), item.isExecutable(),
        klv_isMachOBinary(item.path, item.status)));
  }

  bool shouldCollectDirectory_;
  std::vector<platform::archive::ObjectPtr> enumeratedFileURLs_;
  // The enumerator's error when the root could not be walked at all.
  std::optional<NSError> rootError_;
};

ResultPtr enumerateTree(KLVPrivilegedAccessEnumeratorTask& task) {
  const KLVDSStoreURLFilter filter;
  EnumerationCollector collector(task.shouldCollectDirectory());
  KLVFileTreeEnumeratorRequest request;
  request.url = klv_fileSystemPath(task.rootURL());
  request.maxEnumerationDepth = task.maxEnumerationDepth();
  request.filter = &filter;
  KLVFileTreeEnumerator enumerator({request}, &collector);
  enumerator.perform();
  // A root that could not be walked is a failure, not an empty (or one-record) success.
  if (collector.rootError()) {
    return KLVResultObject::failureResultWithError(*collector.rootError());
  }
  return KLVResultObject::successResultWithValue(
      platform::archive::NSArray::make(std::move(collector.enumeratedFileURLs())));
}

ResultPtr openFileHandle(KLVPrivilegedAccessFileHandleTask& task) {
  int accessMode = 0;
  switch (task.fileHandleType()) {
  case KLVPrivilegedAccessFileHandleTask::reading:
    accessMode = O_RDONLY;
    break;
  case KLVPrivilegedAccessFileHandleTask::writing:
    accessMode = O_WRONLY;
    break;
  case KLVPrivilegedAccessFileHandleTask::updating:
    accessMode = O_RDWR;
    break;
  default:
    return KLVResultObject::failureResultWithError(NSError(
        kKLVPrivilegedAccessErrorDomain, kKLVPrivilegedAccessUnsupportedFileHandleTypeErrorCode,
        {{platform::NSURLErrorKey, task.url()}}));
  }
  const bool writes = task.fileHandleType() != KLVPrivilegedAccessFileHandleTask::reading;
  const std::string path = klv_fileSystemPath(task.url());
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

} // namespace

void registerFileTaskExecutors(TaskExecutors& executors) {
  executors.setExecutor<KLVPrivilegedAccessFileRemoverTask, removeFile>();
  executors.setExecutor<KLVPrivilegedAccessFileSizeTask, measureFile>();
  executors.setExecutor<KLVPrivilegedAccessEmptyDirectoryFetcherTask, checkEmptiness>();
  executors.setExecutor<KLVPrivilegedAccessEnumeratorTask, enumerateTree>();
  executors.setExecutor<KLVPrivilegedAccessFileHandleTask, openFileHandle>();
}

} // namespace tasks
