#include "tasks/TaskClasses.h"

#include "tasks/KLVConfigurationProfile.h"
#include "tasks/KLVCronjob.h"
#include "tasks/KLVCronjobRecord.h"
#include "tasks/KLVPrivilegedAccessCodeSignatureTasks.h"
#include "tasks/KLVPrivilegedAccessCronjobTasks.h"
#include "tasks/KLVPrivilegedAccessEmptyDirectoryFetcherTask.h"
#include "tasks/KLVPrivilegedAccessEnumeratorTask.h"
#include "tasks/KLVPrivilegedAccessFileHandleTask.h"
#include "tasks/KLVPrivilegedAccessFileRemoverTask.h"
#include "tasks/KLVPrivilegedAccessFileSizeTask.h"
#include "tasks/KLVPrivilegedAccessLaunchAgentRemoverTask.h"
#include "tasks/KLVPrivilegedAccessProcessTerminatorTask.h"
#include "tasks/KLVPrivilegedAccessProfileTasks.h"
#include "tasks/KLVPrivilegedAccessSafariHomepageResetTask.h"
#include "tasks/KLVPrivilegedURL.h"
#include "tasks/KLVResultObject.h"

namespace tasks {

void registerTaskClasses(platform::archive::ClassRegistry& registry) {
  // The abstract base is left out on purpose: no archive may name it.
  for (const platform::archive::ObjectClass* objectClass : {
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
       }) {
    registry.registerClass(*objectClass);
  }
}

} // namespace tasks
