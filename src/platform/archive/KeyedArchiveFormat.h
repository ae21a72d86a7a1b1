#pragma once

#include <cstdint>

namespace platform::archive {

// The "$archiver" that keyed archives name and that the unarchiver requires.
inline constexpr const char* kKeyedArchiverName = "NSKeyedArchiver";
// The "$version" that keyed archives carry and that the unarchiver requires.
inline constexpr int64_t kKeyedArchiveVersion = 100000;

} // namespace platform::archive
