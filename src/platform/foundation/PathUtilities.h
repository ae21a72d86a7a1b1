#pragma once

#include <string>

namespace platform {

// The home folder of the user the process runs as (from the user database, not $HOME).
std::string homeDirectoryForCurrentUser();
// `path` with a leading home folder replaced by "~", as log lines show paths.
std::string abbreviatingWithTildeInPath(const std::string& path);

} // namespace platform
