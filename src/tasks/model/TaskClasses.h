#pragma once

#include "platform/archive/ClassRegistry.h"

namespace tasks {

// Registers every task class, the result object and the records they carry with `registry`
// (once per registry; later calls do nothing).
void registerTaskClasses(
    platform::archive::ClassRegistry& registry = platform::archive::ClassRegistry::shared());

} // namespace tasks
