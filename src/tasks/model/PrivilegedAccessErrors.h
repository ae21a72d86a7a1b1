#pragma once

#include "platform/foundation/NSError.h"

#include <cstdint>
#include <string>

namespace tasks {

// The error domain of the task family and the codes it uses.
inline constexpr const char* kKLVPrivilegedAccessErrorDomain = "kKLVPrivilegedAccessErrorDomain";
inline constexpr int64_t kKLVPrivilegedAccessDeniedErrorCode = 100500;
inline constexpr int64_t kKLVPrivilegedAccessUnsupportedFileHandleTypeErrorCode = 100502;
// A task was performed in a process that registered no executor for its class (a client, say).
inline constexpr int64_t kKLVPrivilegedAccessNoExecutorErrorCode = 100503;

// The user-information key under which collected errors travel.
inline constexpr const char* kKLVEmbeddedErrorsKey = "kKLVEmbeddedErrorsKey";

} // namespace tasks
