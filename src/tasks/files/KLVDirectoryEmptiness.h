#pragma once

#include "platform/foundation/NSError.h"

#include <optional>
#include <string>
#include <vector>

namespace tasks {

// The domain of the raw directory reading errors (its value ends with one space).
inline constexpr const char* kKLVFastDirectoryEnumeratorErrorDomain =
    "kKLVFastDirectoryEnumeratorErrorDomain ";
enum KLVFastDirectoryEnumeratorErrorCode : int64_t {
  kKLVFastDirectoryNoPath = 10000,
  kKLVFastDirectoryEmptyPath = 10001,
  kKLVFastDirectoryOpenFailed = 10002,
  kKLVFastDirectoryReadFailed = 10003,
  kKLVFastDirectoryCloseFailed = 10004,
};

// Whether the folder at `path` holds no entry besides "." , ".." and `ignoreEntries`. A folder
// that cannot be opened or read answers false with the error.
bool klv_isDirectoryEmptyAtPath(const std::optional<std::string>& path,
                                const std::vector<std::string>& ignoreEntries,
                                platform::NSError* error);

} // namespace tasks
