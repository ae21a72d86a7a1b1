#include "tasks/model/KLVPrivilegedAccessFileRemoverTask.h"

#include "tasks/model/TaskExecutors.h"

namespace tasks {

const platform::archive::ObjectClass& KLVPrivilegedAccessFileRemoverTask::classObject() {
  static const platform::archive::ObjectClass objectClass(
      "KLVPrivilegedAccessFileRemoverTask", &KLVPrivilegedAccessTask::classObject(), true,
      decodeURLTask<KLVPrivilegedAccessFileRemoverTask>);
  return objectClass;
}

ResultPtr KLVPrivilegedAccessFileRemoverTask::perform() {
  return TaskExecutors::shared().perform(*this);
}

} // namespace tasks
