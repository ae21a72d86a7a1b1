#pragma once

#include "platform/foundation/NSError.h"

namespace platform::security {

// Marks the calling process non-dumpable (no core dumps, and processes of the same user
// without CAP_SYS_PTRACE can no longer attach to it or read its memory). Clients call it
// early, before they connect to the agent. False with a POSIX error on failure.
bool makeProcessNonDumpable(NSError* error);

} // namespace platform::security
