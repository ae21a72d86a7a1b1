#pragma once

#include "tasks/model/KLVPrivilegedAccessProcessTerminatorTask.h"
#include "tasks/model/TaskExecutors.h"
#include "tasks/processes/KLVProcessManagementService.h"

namespace tasks {

// Registers what the process terminator task does as root.
void registerProcessTaskExecutors(TaskExecutors& executors);

// The termination that `perform` runs, through the given system calls (tests record them).
ResultPtr performWithSignalling(const KLVPrivilegedAccessProcessTerminatorTask& task,
                                ProcessSignalling signalling);

} // namespace tasks
