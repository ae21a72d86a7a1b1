#pragma once

namespace agent {

// Sends the IPC framework's diagnostics to the agent's log (subsystem "PrivilegedAgent",
// category "IPC"): errors as errors and information as info; debug lines are dropped unbuilt.
// Without it, refused clients and dropped connections would leave no trace. Call before the
// engine is made.
void installFrameworkLogHandler();

} // namespace agent
