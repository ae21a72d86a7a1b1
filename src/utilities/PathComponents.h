#pragma once

#include <string>
#include <string_view>

namespace utilities {

// Path text operations with the platform's path-string semantics (trailing slashes ignored,
// "/" is its own last component).

std::string lastPathComponent(std::string_view path);
// The path without its last component: "" for a bare name, "/" for a child of the root.
std::string deletingLastPathComponent(std::string_view path);
// The last component without its extension ("com.example.job.plist" gives "com.example.job").
// A name whose only dot is its first character has no extension.
std::string deletingPathExtension(std::string_view name);
std::string appendingPathComponent(std::string_view directory, std::string_view component);

// The path without trailing slashes ("/" stays "/"): a trailing slash would make the kernel
// resolve a final symbolic link.
std::string withoutTrailingSlashes(std::string_view path);

// A path that the kernel can be given: not empty and without NUL bytes.
bool hasFileSystemRepresentation(std::string_view path);

} // namespace utilities
