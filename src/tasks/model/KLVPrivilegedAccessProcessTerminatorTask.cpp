#include "tasks/model/KLVPrivilegedAccessProcessTerminatorTask.h"

#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedUnarchiver.h"
#include "tasks/model/TaskExecutors.h"

namespace tasks {

const platform::archive::ObjectClass& KLVPrivilegedAccessProcessTerminatorTask::classObject() {
  static const platform::archive::ObjectClass objectClass(
      "KLVPrivilegedAccessProcessTerminatorTask", &KLVPrivilegedAccessTask::classObject(), true,
      [](platform::archive::KeyedUnarchiver& coder) -> platform::archive::ObjectPtr {
        const int32_t processIdentifier = coder.decodeInt32ForKey("processIdentifier");
        if (processIdentifier == 0) {
          return nullptr;
        }
        auto uuid = decodeUUID(coder);
        if (!uuid || coder.error()) {
          return nullptr;
        }
        return std::make_shared<KLVPrivilegedAccessProcessTerminatorTask>(*uuid, processIdentifier);
      });
  return objectClass;
}

ResultPtr KLVPrivilegedAccessProcessTerminatorTask::perform() {
  return TaskExecutors::shared().perform(*this);
}

void KLVPrivilegedAccessProcessTerminatorTask::encodeWithCoder(
    platform::archive::KeyedArchiver& coder) const {
  KLVPrivilegedAccessTask::encodeWithCoder(coder);
  coder.encodeInt32(processIdentifier_, "processIdentifier");
}

bool KLVPrivilegedAccessProcessTerminatorTask::isEqual(
    const platform::archive::Object& other) const {
  return KLVPrivilegedAccessTask::isEqual(other) &&
         static_cast<const KLVPrivilegedAccessProcessTerminatorTask&>(other).processIdentifier_ ==
             processIdentifier_;
}

} // namespace tasks
