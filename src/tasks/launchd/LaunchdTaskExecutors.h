#pragma once

#include "tasks/model/TaskExecutors.h"

namespace tasks {

// Registers what the launch agent remover task does as root.
void registerLaunchdTaskExecutors(TaskExecutors& executors);

} // namespace tasks
