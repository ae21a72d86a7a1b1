#pragma once

#include "tasks/model/TaskExecutors.h"

namespace tasks {

// Registers what the browser home page reset task does as root.
void registerHomepageTaskExecutors(TaskExecutors& executors);

} // namespace tasks
