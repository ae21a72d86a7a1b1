#pragma once

#include <optional>
#include <string>

// The URL properties that the enumeration tasks read, for a file path. Each answers false or
// none when the value cannot be read. Symbolic links are not followed: a link is reported as a
// link (the only kind of alias file here), never as what it points to.
namespace tasks {

bool klv_isDirectory(const std::string& path);
bool klv_isExecutable(const std::string& path);
bool klv_isSymbolicLink(const std::string& path);
bool klv_isAliasFile(const std::string& path);
bool klv_isRegularFile(const std::string& path);
// The canonical path with every link resolved; none when it cannot be resolved.
std::optional<std::string> klv_canonicalPath(const std::string& path);
// Whether the regular file starts with a Mach-O or universal-file magic number (either order).
bool klv_isMachOBinary(const std::string& path);

} // namespace tasks
