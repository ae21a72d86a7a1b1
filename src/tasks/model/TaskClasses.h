#pragma once

#include "platform/archive/ClassRegistry.h"

#include <vector>

namespace tasks {

// Every task class, the result object and the records they carry. The abstract base is left out
// on purpose: no archive may name it.
const std::vector<const platform::archive::ObjectClass*>& taskArchiveClasses();

// Registers the classes of taskArchiveClasses with `registry` (once per registry; later calls
// do nothing).
void registerTaskClasses(
    platform::archive::ClassRegistry& registry = platform::archive::ClassRegistry::shared());

} // namespace tasks
