#pragma once

#include "platform/foundation/NSError.h"

#include <cstdint>
#include <string>

namespace tasks {

// The error domain of the task family and the codes it uses.
inline constexpr const char* kKLVPrivilegedAccessErrorDomain = "kKLVPrivilegedAccessErrorDomain";
inline constexpr int64_t kKLVPrivilegedAccessDeniedErrorCode = 100500;
inline constexpr int64_t kKLVPrivilegedAccessUnsupportedFileHandleTypeErrorCode = 100502;
// A task whose class decodes but whose work is not built into this agent yet.
inline constexpr int64_t kKLVPrivilegedAccessTaskNotAvailableErrorCode = 100503;

// The user-information key under which collected errors travel.
inline constexpr const char* kKLVEmbeddedErrorsKey = "kKLVEmbeddedErrorsKey";

// The error of a task whose `perform` is not available in this agent yet.
platform::NSError taskNotAvailableError(const std::string& taskIdentifier);

} // namespace tasks
