#pragma once

#include "tasks/model/TaskExecutors.h"

namespace tasks {

// Registers what the configuration profile fetcher and remover tasks do as root.
void registerProfileTaskExecutors(TaskExecutors& executors);

} // namespace tasks
