#include "tasks/homepage/HomepageTaskExecutors.h"

#include "platform/foundation/Workspace.h"
#include "tasks/files/KLVPathsProvider.h"
#include "tasks/homepage/KLVSafariHomepageService.h"
#include "tasks/model/KLVPrivilegedAccessSafariHomepageResetTask.h"
#include "tasks/profiles/KLVProfileService.h"

#include <memory>
#include <optional>

namespace tasks {
namespace {

ResultPtr resetHomepage(KLVPrivilegedAccessSafariHomepageResetTask& task) {
  const std::string& userName = task.userName();
  auto pathsProvider = KLVPathsProvider::providerWithUserName(userName);
  if (pathsProvider == nullptr) {
    return KLVResultObject::failureResultWithError(
        platform::NSError(kKLVPrivilegedAccessSafariHomepageResetTaskErrorDomain,
                          kKLVPrivilegedAccessSafariHomepageResetTaskUnknownUser,
                          {{kKLVEmbeddedUserNameKey, userName}}));
  }
  const auto systemVersion = platform::SystemVersion::current();
  const double timeout = task.externalUtilityExecutionTimeout();
  auto taskRunner = std::make_shared<KLVTaskRunnerService>();
  auto plistService = std::make_shared<KLVPlistService>();
  auto profileService = std::make_shared<KLVProfileService>(systemVersion, pathsProvider,
                                                            taskRunner, plistService, timeout);
  KLVSafariHomepageService service(KLVBundleIdentifiersProvider(), pathsProvider, systemVersion,
                                   plistService, profileService, taskRunner,
                                   platform::Workspace::shared(), timeout);
  platform::NSError error;
  const bool reset = service.resetHomepageForUser(userName, &error);
  return KLVResultObject::resultWithStatus(reset, reset ? std::nullopt : std::optional(error));
}

} // namespace

void registerHomepageTaskExecutors(TaskExecutors& executors) {
  executors.setExecutor<KLVPrivilegedAccessSafariHomepageResetTask, resetHomepage>();
}

} // namespace tasks
