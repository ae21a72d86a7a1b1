#include "tasks/launchd/LaunchdTaskExecutors.h"

#include "tasks/files/KLVURLProperties.h"
#include "tasks/launchd/KLVLaunchdService.h"
#include "tasks/model/KLVPrivilegedAccessLaunchAgentRemoverTask.h"

#include <memory>
#include <optional>

namespace tasks {
namespace {

ResultPtr removeLaunchAgent(KLVPrivilegedAccessLaunchAgentRemoverTask& task) {
  KLVLaunchdService service(utilities::FileManager::defaultManager(), KLVFileRemoverService(),
                            std::make_shared<KLVTaskRunnerService>(),
                            task.externalUtilityExecutionTimeout());
  platform::NSError error;
  const bool removed = service.removeAgentAtPath(klv_fileSystemPath(task.url()), &error);
  return KLVResultObject::resultWithStatus(removed, error.domain().empty() ? std::nullopt
                                                                           : std::optional(error));
}

} // namespace

void registerLaunchdTaskExecutors(TaskExecutors& executors) {
  executors.setExecutor<KLVPrivilegedAccessLaunchAgentRemoverTask, removeLaunchAgent>();
}

} // namespace tasks
