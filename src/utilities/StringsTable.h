#pragma once

#include <string>

namespace utilities {

// The text stored under `key` in the daemon's "Errors" string table. The daemon ships no
// localized tables, so, as the platform does for a key missing from its table with an empty
// default, the key itself is the text.
std::string errorsTableString(const std::string& key);

} // namespace utilities
