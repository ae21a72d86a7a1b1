#include "tasks/model/KLVPrivilegedAccessEmptyDirectoryFetcherTask.h"

#include "tasks/model/TaskExecutors.h"

namespace tasks {

const platform::archive::ObjectClass& KLVPrivilegedAccessEmptyDirectoryFetcherTask::classObject() {
  static const platform::archive::ObjectClass objectClass(
      "KLVPrivilegedAccessEmptyDirectoryFetcherTask", &KLVPrivilegedAccessTask::classObject(), true,
      decodeURLTask<KLVPrivilegedAccessEmptyDirectoryFetcherTask>);
  return objectClass;
}

ResultPtr KLVPrivilegedAccessEmptyDirectoryFetcherTask::perform() {
  return TaskExecutors::shared().perform(*this);
}

} // namespace tasks
