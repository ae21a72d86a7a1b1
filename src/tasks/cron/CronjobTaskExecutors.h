#pragma once

#include "tasks/cron/KLVCronjobService.h"
#include "tasks/model/KLVPrivilegedAccessCronjobTasks.h"
#include "tasks/model/TaskExecutors.h"

namespace tasks {

// Registers what the cron job fetcher and remover tasks do as root.
void registerCronjobTaskExecutors(TaskExecutors& executors);

// The work of each task's `perform` on a given service (tests point one at a folder of their
// own); `perform` uses a service over the system's tabs folder.
ResultPtr performWithService(const KLVPrivilegedAccessCronjobFetcherTask& task,
                             const KLVCronjobService& service);
ResultPtr performWithService(const KLVPrivilegedAccessCronjobRemoverTask& task,
                             const KLVCronjobService& service);

} // namespace tasks
