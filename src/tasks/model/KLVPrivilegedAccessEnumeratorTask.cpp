#include "tasks/model/KLVPrivilegedAccessEnumeratorTask.h"

#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedUnarchiver.h"
#include "tasks/model/TaskExecutors.h"

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
  return TaskExecutors::shared().perform(*this);
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
