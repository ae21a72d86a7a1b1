#pragma once

// Running the installed agent and its clients from a benchmark, inside scripts/sandbox.

#include <string>
#include <sys/types.h>
#include <vector>

namespace bench {

inline constexpr const char* kAgentPath =
    "/Library/PrivilegedHelperTools/com.quillby.Lumora5.Agent";
inline constexpr const char* kAgentSocket = "/var/run/com.quillby.Lumora5.Agent";

// Whether `path` accepts a connection now.
bool accepts(const std::string& path);
// Starts `argv` with an empty environment and its output discarded (standard error appended
// to `errorLog` when one is named); the pid, or -1.
pid_t spawnQuiet(const std::vector<std::string>& argv, const std::string& errorLog = {});
// Starts the installed agent as spawnQuiet does, with the environment its service unit gives
// it.
pid_t spawnAgent(const std::string& errorLog = {});
// Starts `argv` (searched on PATH) with standard output into a pipe; the pid, or -1, and the
// pipe's reading end in `output`.
pid_t spawnReading(const std::vector<std::string>& argv, int& output);
// Reads `fd` to its end and closes it.
std::string readToEnd(int fd);
// Waits until `socketPath` accepts; false when `pid` ends first or 10 s pass.
bool waitUntilAccepting(pid_t pid, const std::string& socketPath);
// Kills and reaps `pid`.
void stop(pid_t pid);
// A field of `pid`'s /proc status in KiB ("VmRSS", "VmHWM"), or -1.
long statusKiB(pid_t pid, const std::string& field);
// The resident set of `pid` in KiB (VmRSS), or -1.
long residentKiB(pid_t pid);
// Runs this benchmark again inside scripts/sandbox, with no agent started, as
// "SELF --inside"; returns only on failure. Needs root (it says so otherwise).
int rerunInsideSandbox(const char* name, const char* sourceDir, const char* buildDir);

} // namespace bench
