#pragma once

#include <chrono>

namespace operations {

// How long a scheduled termination waits, so that the reply to the request that asked for it
// is sent before the process ends.
inline constexpr std::chrono::milliseconds kTerminationGracePeriod{200};

// Ends the agent with status 0 once the main queue runs the exit, that is after the handler
// that scheduled it has returned (and usually after its reply has gone out). Used by the
// requests that end the agent: termination and self-removal.
void scheduleTermination();

} // namespace operations
