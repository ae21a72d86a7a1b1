#pragma once

#include "platform/foundation/NSError.h"

#include <string>

namespace utilities {

// Copies the item at `source` (a whole tree for a folder) to the new path `destination` on
// another file system, keeping modes, owners and modification times; symbolic links are copied
// as links, never followed. Every item is created exclusively, so nothing existing is
// overwritten. On failure the partial copy is removed and the file manager's error is given.
bool copyItemAcrossFileSystems(const std::string& source, const std::string& destination,
                               platform::NSError* error);

} // namespace utilities
