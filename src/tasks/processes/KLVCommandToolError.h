#pragma once

#include "platform/foundation/NSError.h"
#include "tasks/processes/KLVTaskRunnerService.h"

#include <optional>
#include <string>

namespace tasks {

// The user-information keys under which a failed tool's outcome travels.
inline constexpr const char* kKLVCommandToolStatusKey = "kKLVCommandToolStatusKey";
inline constexpr const char* kKLVCommandToolValueTextKey = "kKLVCommandToolValueTextKey";
inline constexpr const char* kKLVCommandToolErrorTextKey = "kKLVCommandToolErrorTextKey";

// The most text of one stream that an error carries: a tool that prints megabytes must not make
// an error too large to send. Longer text keeps its first and last halves of this around a
// note of how much was left out.
inline constexpr size_t kMaxToolTextInError = 16 * 1024;

// An error of `domain` and `code` describing a tool run that failed: the runner's error under
// NSUnderlyingErrorKey (when there is one), and, when the tool ran, its exit status and the
// texts of both streams (capped as above) under the keys above.
platform::NSError commandToolError(const std::string& domain, int64_t code,
                                   const std::optional<KLVTaskRunnerOutput>& output,
                                   const std::optional<platform::NSError>& runnerError);

} // namespace tasks
