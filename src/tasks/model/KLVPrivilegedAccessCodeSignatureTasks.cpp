#include "tasks/model/KLVPrivilegedAccessCodeSignatureTasks.h"

#include "tasks/model/TaskExecutors.h"

namespace tasks {
const platform::archive::ObjectClass& KLVPrivilegedAccessTeamIdentifierTask::classObject() {
  static const platform::archive::ObjectClass objectClass(
      "KLVPrivilegedAccessTeamIdentifierTask", &KLVPrivilegedAccessTask::classObject(), true,
      decodeURLTask<KLVPrivilegedAccessTeamIdentifierTask>);
  return objectClass;
}

ResultPtr KLVPrivilegedAccessTeamIdentifierTask::perform() {
  return TaskExecutors::shared().perform(*this);
}

const platform::archive::ObjectClass& KLVPrivilegedAccessBundleIdentifierTask::classObject() {
  static const platform::archive::ObjectClass objectClass(
      "KLVPrivilegedAccessBundleIdentifierTask", &KLVPrivilegedAccessTask::classObject(), true,
      decodeURLTask<KLVPrivilegedAccessBundleIdentifierTask>);
  return objectClass;
}

ResultPtr KLVPrivilegedAccessBundleIdentifierTask::perform() {
  return TaskExecutors::shared().perform(*this);
}

} // namespace tasks
