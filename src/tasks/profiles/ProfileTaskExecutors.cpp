#include "tasks/profiles/ProfileTaskExecutors.h"

#include "platform/archive/Collections.h"
#include "tasks/files/KLVPathsProvider.h"
#include "tasks/model/KLVPrivilegedAccessProfileTasks.h"
#include "tasks/profiles/KLVProfileService.h"

#include <memory>
#include <optional>

namespace tasks {
namespace {

// The service as both tasks use it: the running system, the process's temporary folder and a
// fresh runner, with the task's time limit for every run of the tool.
KLVProfileService makeProfileService(double externalUtilityExecutionTimeout) {
  return KLVProfileService(platform::SystemVersion::current(), KLVPathsProvider::defaultProvider(),
                           std::make_shared<KLVTaskRunnerService>(),
                           std::make_shared<KLVPlistService>(), externalUtilityExecutionTimeout);
}

ResultPtr fetchProfiles(KLVPrivilegedAccessProfileFetcherTask& task) {
  platform::NSError error;
  auto profiles = makeProfileService(task.externalUtilityExecutionTimeout())
                      .fetchSystemConfigurationProfiles(&error);
  if (!profiles) {
    return KLVResultObject::failureResultWithError(std::move(error));
  }
  return KLVResultObject::resultWithValue(
      platform::archive::NSArray::make({profiles->begin(), profiles->end()}), std::nullopt);
}

ResultPtr removeProfile(KLVPrivilegedAccessProfileRemoverTask& task) {
  platform::NSError error;
  const bool removed = makeProfileService(task.externalUtilityExecutionTimeout())
                           .uninstallConfigurationProfile(*task.profile(), &error);
  return KLVResultObject::resultWithStatus(removed, removed ? std::nullopt : std::optional(error));
}

} // namespace

void registerProfileTaskExecutors(TaskExecutors& executors) {
  executors.setExecutor<KLVPrivilegedAccessProfileFetcherTask, fetchProfiles>();
  executors.setExecutor<KLVPrivilegedAccessProfileRemoverTask, removeProfile>();
}

} // namespace tasks
