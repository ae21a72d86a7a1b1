#include "tasks/model/KLVPrivilegedAccessFileSizeTask.h"

#include "tasks/model/TaskExecutors.h"

namespace tasks {

const platform::archive::ObjectClass& KLVPrivilegedAccessFileSizeTask::classObject() {
  static const platform::archive::ObjectClass objectClass(
      "KLVPrivilegedAccessFileSizeTask", &KLVPrivilegedAccessTask::classObject(), true,
      decodeURLTask<KLVPrivilegedAccessFileSizeTask>);
  return objectClass;
}

ResultPtr KLVPrivilegedAccessFileSizeTask::perform() {
  return TaskExecutors::shared().perform(*this);
}

} // namespace tasks
