#pragma once

#include "platform/security/UniqueFd.h"

#include <string>
#include <sys/stat.h>

namespace platform::security {

// Owned by root and writable by nobody else: neither its group nor others may write to it.
bool isRootControlled(const struct stat& status);

// Opens the directory `path` (absolute, without "..") component by component, never following
// a symbolic link. With `requireRootControlled`, "/" and every directory on the way, the last
// one included, must be root-controlled, so that nobody but root can replace what lies below.
// False with a reason (which names `path`) otherwise.
bool openDirectoryWithoutLinks(const std::string& path, bool requireRootControlled,
                               UniqueFd& directory, std::string& reason);

} // namespace platform::security
