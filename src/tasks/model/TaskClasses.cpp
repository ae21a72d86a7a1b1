#include "tasks/model/TaskClasses.h"

#include "tasks/model/KLVConfigurationProfile.h"
#include "tasks/model/KLVCronjob.h"
#include "tasks/model/KLVCronjobRecord.h"
#include "tasks/model/KLVPrivilegedAccessCodeSignatureTasks.h"
#include "tasks/model/KLVPrivilegedAccessCronjobTasks.h"
#include "tasks/model/KLVPrivilegedAccessEmptyDirectoryFetcherTask.h"
#include "tasks/model/KLVPrivilegedAccessEnumeratorTask.h"
#include "tasks/model/KLVPrivilegedAccessFileHandleTask.h"
#include "tasks/model/KLVPrivilegedAccessFileRemoverTask.h"
#include "tasks/model/KLVPrivilegedAccessFileSizeTask.h"
#include "tasks/model/KLVPrivilegedAccessLaunchAgentRemoverTask.h"
#include "tasks/model/KLVPrivilegedAccessProcessTerminatorTask.h"
#include "tasks/model/KLVPrivilegedAccessProfileTasks.h"
#include "tasks/model/KLVPrivilegedAccessSafariHomepageResetTask.h"
#include "tasks/model/KLVPrivilegedURL.h"
#include "tasks/model/KLVResultObject.h"

namespace tasks {

const std::vector<const platform::archive::ObjectClass*>& taskArchiveClasses() {
  static const std::vector<const platform::archive::ObjectClass*> classes{
      &KLVResultObject::classObject(),
      &KLVPrivilegedURL::classObject(),
      &KLVConfigurationProfile::classObject(),
      &KLVCronjobRecord::classObject(),
      &KLVCronjob::classObject(),
      &KLVPrivilegedAccessFileRemoverTask::classObject(),
      &KLVPrivilegedAccessProcessTerminatorTask::classObject(),
      &KLVPrivilegedAccessLaunchAgentRemoverTask::classObject(),
      &KLVPrivilegedAccessFileSizeTask::classObject(),
      &KLVPrivilegedAccessEmptyDirectoryFetcherTask::classObject(),
      &KLVPrivilegedAccessEnumeratorTask::classObject(),
      &KLVPrivilegedAccessProfileFetcherTask::classObject(),
      &KLVPrivilegedAccessProfileRemoverTask::classObject(),
      &KLVPrivilegedAccessCronjobFetcherTask::classObject(),
      &KLVPrivilegedAccessCronjobRemoverTask::classObject(),
      &KLVPrivilegedAccessTeamIdentifierTask::classObject(),
      &KLVPrivilegedAccessBundleIdentifierTask::classObject(),
      &KLVPrivilegedAccessSafariHomepageResetTask::classObject(),
      &KLVPrivilegedAccessFileHandleTask::classObject(),
  };
  return classes;
}

void registerTaskClasses(platform::archive::ClassRegistry& registry) {
  for (const platform::archive::ObjectClass* objectClass : taskArchiveClasses()) {
    registry.registerClass(*objectClass);
  }
}

} // namespace tasks
