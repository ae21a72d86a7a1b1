#include "tasks/KLVPrivilegedAccessCodeSignatureTasks.h"

#include "tasks/PrivilegedAccessErrors.h"

namespace tasks {

const platform::archive::ObjectClass& KLVPrivilegedAccessTeamIdentifierTask::classObject() {
  static const platform::archive::ObjectClass objectClass(
      "KLVPrivilegedAccessTeamIdentifierTask", &KLVPrivilegedAccessTask::classObject(), true,
      decodeURLTask<KLVPrivilegedAccessTeamIdentifierTask>);
  return objectClass;
}

ResultPtr KLVPrivilegedAccessTeamIdentifierTask::perform() {
  return KLVResultObject::failureResultWithError(taskNotAvailableError(identifier()));
}

const platform::archive::ObjectClass& KLVPrivilegedAccessBundleIdentifierTask::classObject() {
  static const platform::archive::ObjectClass objectClass(
      "KLVPrivilegedAccessBundleIdentifierTask", &KLVPrivilegedAccessTask::classObject(), true,
      decodeURLTask<KLVPrivilegedAccessBundleIdentifierTask>);
  return objectClass;
}

ResultPtr KLVPrivilegedAccessBundleIdentifierTask::perform() {
  return KLVResultObject::failureResultWithError(taskNotAvailableError(identifier()));
}

} // namespace tasks
