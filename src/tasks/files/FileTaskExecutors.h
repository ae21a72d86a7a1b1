#pragma once

#include "tasks/model/TaskExecutors.h"

namespace tasks {

// Registers what the file tasks do as root: removal, size, emptiness, enumeration and file
// handles.
void registerFileTaskExecutors(TaskExecutors& executors);

} // namespace tasks
