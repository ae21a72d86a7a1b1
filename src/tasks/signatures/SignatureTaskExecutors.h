#pragma once

#include "tasks/model/TaskExecutors.h"

namespace tasks {

// Registers what the team and bundle identifier tasks do as root.
void registerSignatureTaskExecutors(TaskExecutors& executors);

} // namespace tasks
