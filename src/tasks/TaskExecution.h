#pragma once

#include "tasks/model/TaskExecutors.h"

namespace tasks {

// Registers the execution of every task class with `executors`: the agent calls it once at
// start-up, before it serves a task, and so do the tests and tools that run tasks. Calling it
// again registers the same executors again. No static initialiser does this: a static library
// would lose it at link time.
void registerTaskExecutors(TaskExecutors& executors = TaskExecutors::shared());

} // namespace tasks
