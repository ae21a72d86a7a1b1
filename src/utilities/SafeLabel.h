#pragma once

#include <string>
#include <string_view>

namespace utilities {

// Whether a launchd job label may become one file name inside a fixed folder (for example
// "/Library/PrivilegedHelperTools/" + label). A label that is empty, "." or "..", or that holds
// "/" or a NUL byte, would name the folder itself or a file elsewhere: such a label names no
// helper, and every caller skips the removal that it would drive.
bool isSafeLabel(std::string_view label);

// The label a job file's name gives: its last path component without the extension
// ("/Library/LaunchDaemons/com.example.helper.plist" gives "com.example.helper"). Check it
// with isSafeLabel before it becomes a path.
std::string labelFromJobFilePath(std::string_view path);

} // namespace utilities
