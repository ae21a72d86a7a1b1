#pragma once

namespace operations {

// Ends the agent with status 0 once the main queue runs the exit, that is after the handler
// that scheduled it has returned (and usually after its reply has gone out). Used by the
// requests that end the agent: termination and self-removal.
void scheduleTermination();

} // namespace operations
