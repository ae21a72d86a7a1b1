#include "tasks/model/KLVPrivilegedAccessFileHandleTask.h"

#include "tasks/model/TaskExecutors.h"

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
  return TaskExecutors::shared().perform(*this);
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
