#pragma once

#include "platform/foundation/NSError.h"
#include "platform/foundation/URL.h"

#include <cstdint>
#include <limits>

namespace tasks {

inline constexpr const char* kFileSizeAccessErrorDomain = "FileSizeAccessErrorDomain";
inline constexpr int64_t kFileSizeAccessOpenFailedErrorCode = 200;
inline constexpr int64_t kFileSizeAccessInvalidTypeErrorCode = 201;
// What fileSizeWithURL answers on failure.
inline constexpr uint64_t kKLVInvalidFileSize = std::numeric_limits<uint64_t>::max();

// Measures the logical size of one file (symbolic links followed, as a URL's resource values
// are). Folders, devices, pipes and sockets have no size to read.
class KLVFileSizeAccessService {
public:
  uint64_t fileSizeWithURL(const platform::URL& url, platform::NSError* error) const;
};

} // namespace tasks
