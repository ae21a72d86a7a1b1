#include "tasks/model/KLVPrivilegedAccessEnumeratorTask.h"

#include "platform/archive/Collections.h"
#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedUnarchiver.h"
#include "tasks/files/KLVURLProperties.h"

namespace tasks {

const platform::archive::ObjectClass& KLVPrivilegedAccessEnumeratorTask::classObject() {
  static const platform::archive::ObjectClass objectClass(
      "KLVPrivilegedAccessEnumeratorTask", &KLVPrivilegedAccessTask::classObject(), true,
      [](platform::archive::KeyedUnarchiver& coder) -> platform::archive::ObjectPtr {
        auto rootURL = coder.decodeURLForKey("rootURL");
        const bool shouldCollectDirectory = coder.decodeBoolForKey("shouldCollectDirectory");
        const auto depth = static_cast<uint64_t>(coder.decodeIntegerForKey("maxEnumerationDepth"));
        if (!rootURL || depth == 0) {
          return nullptr;
        }
        auto uuid = decodeUUID(coder);
        if (!uuid || coder.error()) {
          return nullptr;
        }
        return std::make_shared<KLVPrivilegedAccessEnumeratorTask>(*uuid, std::move(*rootURL),
                                                                   shouldCollectDirectory, depth);
      });
  return objectClass;
}

ResultPtr KLVPrivilegedAccessEnumeratorTask::perform() {
  filter_ = std::make_unique<KLVDSStoreURLFilter>();
  enumeratedFileURLs_.clear();
  rootError_.reset();
  KLVFileTreeEnumeratorRequest request;
  request.url = klv_fileSystemPath(rootURL_);
  request.maxEnumerationDepth = maxEnumerationDepth_;
  request.filter = filter_.get();
  KLVFileTreeEnumerator enumerator({request}, this);
  enumerator.perform();
  // A root that could not be walked is a failure, not an empty (or one-record) success.
  auto result = rootError_ ? KLVResultObject::failureResultWithError(*rootError_)
                           : KLVResultObject::successResultWithValue(
                                 platform::archive::NSArray::make(std::move(enumeratedFileURLs_)));
  enumeratedFileURLs_.clear();
  rootError_.reset();
  filter_.reset();
  return result;
}

void KLVPrivilegedAccessEnumeratorTask::catchError(KLVFileTreeEnumerator&,
                                                   const platform::NSError& error) {
  if (!rootError_) {
    rootError_ = error;
  }
}

bool KLVPrivilegedAccessEnumeratorTask::iterateDirectory(KLVFileTreeEnumerator&,
                                                         const KLVFileTreeItem& item) {
  // The only alias files here are symbolic links, and the walk reports those as files.
  if (shouldCollectDirectory_ && !item.isSymbolicLink()) {
    addItem(item);
  }
  return true;
}

void KLVPrivilegedAccessEnumeratorTask::iterateFile(KLVFileTreeEnumerator&,
                                                    const KLVFileTreeItem& item) {
  if (!item.isSymbolicLink()) {
    addItem(item);
  }
}

void KLVPrivilegedAccessEnumeratorTask::addItem(const KLVFileTreeItem& item) {
  enumeratedFileURLs_.push_back(std::make_shared<KLVPrivilegedURL>(
      item.path, item.canonicalPath, item.isDirectory(), item.isExecutable(),
      klv_isMachOBinary(item.path, item.status)));
}

void KLVPrivilegedAccessEnumeratorTask::encodeWithCoder(
    platform::archive::KeyedArchiver& coder) const {
  KLVPrivilegedAccessTask::encodeWithCoder(coder);
  coder.encodeURL(rootURL_, "rootURL");
  coder.encodeBool(shouldCollectDirectory_, "shouldCollectDirectory");
  coder.encodeInteger(static_cast<int64_t>(maxEnumerationDepth_), "maxEnumerationDepth");
}

bool KLVPrivilegedAccessEnumeratorTask::isEqual(const platform::archive::Object& other) const {
  if (!KLVPrivilegedAccessTask::isEqual(other)) {
    return false;
  }
  const auto& task = static_cast<const KLVPrivilegedAccessEnumeratorTask&>(other);
  return task.rootURL_ == rootURL_ && task.shouldCollectDirectory_ == shouldCollectDirectory_ &&
         task.maxEnumerationDepth_ == maxEnumerationDepth_;
}

size_t KLVPrivilegedAccessEnumeratorTask::hash() const {
  return KLVPrivilegedAccessTask::hash() ^ std::hash<std::string>()(rootURL_.absoluteString()) ^
         static_cast<size_t>(shouldCollectDirectory_) ^ static_cast<size_t>(maxEnumerationDepth_);
}

} // namespace tasks
