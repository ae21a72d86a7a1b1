#include "tasks/TaskExecution.h"

#include "tasks/cron/CronjobTaskExecutors.h"
#include "tasks/files/FileTaskExecutors.h"
#include "tasks/homepage/HomepageTaskExecutors.h"
#include "tasks/launchd/LaunchdTaskExecutors.h"
#include "tasks/processes/ProcessTaskExecutors.h"
#include "tasks/profiles/ProfileTaskExecutors.h"
#include "tasks/signatures/SignatureTaskExecutors.h"

namespace tasks {

void registerTaskExecutors(TaskExecutors& executors) {
  registerFileTaskExecutors(executors);
  registerProcessTaskExecutors(executors);
  registerLaunchdTaskExecutors(executors);
  registerProfileTaskExecutors(executors);
  registerCronjobTaskExecutors(executors);
  registerSignatureTaskExecutors(executors);
  registerHomepageTaskExecutors(executors);
}

} // namespace tasks
