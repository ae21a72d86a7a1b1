#pragma once

#include "platform/foundation/URL.h"

#include <optional>
#include <string>
#include <sys/stat.h>

// The URL properties that the enumeration tasks read, for a file path. Each answers false or
// none when the value cannot be read. Symbolic links are not followed: a link is reported as a
// link (the only kind of alias file here), never as what it points to.
namespace tasks {

// The absolute file-system path that `url` names; empty for anything that is not a file URL
// with an absolute path, so that no task acts on a path relative to the agent's own folder.
std::string klv_fileSystemPath(const platform::URL& url);

bool klv_isDirectory(const std::string& path);
bool klv_isExecutable(const std::string& path);
bool klv_isSymbolicLink(const std::string& path);
bool klv_isAliasFile(const std::string& path);
bool klv_isRegularFile(const std::string& path);
// The canonical path with every link resolved; none when it cannot be resolved.
std::optional<std::string> klv_canonicalPath(const std::string& path);
// Whether the regular file starts with a Mach-O or universal-file magic number (either order).
bool klv_isMachOBinary(const std::string& path);
// The same for an item whose lstat the caller holds: only regular files of at least four bytes
// are opened.
bool klv_isMachOBinary(const std::string& path, const struct stat& status);

} // namespace tasks
