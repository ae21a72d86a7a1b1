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
