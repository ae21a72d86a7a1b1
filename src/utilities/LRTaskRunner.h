#pragma once

#include "platform/foundation/NSError.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace utilities {

// Error domain of a tool that could not be started.
inline constexpr const char* kLRTaskRunnerErrorDomain = "com.quillby.lumora.taskRunner";

// Runs an external tool as a child process, waits for it and hands back its exit status and
// captured output. Tools are named by absolute path and get their arguments as they are (no
// shell); the child starts with an empty environment unless inheritance is switched on.
// Captured texts are none when the tool printed only whitespace and newlines, and are cut at
// kMaxCapturedBytes (the rest is drained and dropped). No method lets an exception out.
class LRTaskRunner {
public:
  using CompletionHandler = std::function<void(std::optional<std::string> output, int32_t status,
                                               std::optional<std::string> errorOutput,
                                               std::optional<platform::NSError> error)>;

  // When false (the default), every child starts with no environment variables at all.
  bool inheritEnvironmentOfCurrentProcess = false;

  // Runs the tool on the calling thread and calls `handler` once before returning, with the
  // standard output, the exit status, the error output and no error; status -1 and an error of
  // kLRTaskRunnerErrorDomain, code 0, when the tool cannot be started. A standard-input text
  // (even an empty one) is written to a pipe connected to the child's input; none leaves the
  // daemon's input in place.
  void launchTask(const std::string& path, const std::vector<std::string>& arguments,
                  const std::optional<std::string>& standartInput,
                  const CompletionHandler& handler) const;
  void launchTask(const std::string& path, const std::vector<std::string>& arguments,
                  const CompletionHandler& handler) const;

  // The tool's error output when `useErrorOutputAsStd`, else its standard output. The error
  // stream goes to a pipe only when suppressed or captured; otherwise it is the daemon's own.
  // The exit status is stored in `resultCode` when given and the tool ran.
  std::optional<std::string> getOutput(const std::string& path,
                                       const std::vector<std::string>& arguments,
                                       bool suppressErrorOutput, bool useErrorOutputAsStd,
                                       int32_t* resultCode) const;
  // getOutput with useErrorOutputAsStd = !suppressErrorOutput: the error output when not
  // suppressed, the standard output when suppressed.
  std::optional<std::string> launchTaskAndGetOutput(const std::string& path,
                                                    const std::vector<std::string>& arguments,
                                                    bool suppressErrorOutput) const;
  std::optional<std::string>
  launchTaskAndGetOutput(const std::string& path, const std::vector<std::string>& arguments) const;

  // Runs the tool and keeps its standard output in `output` (none when it printed only
  // whitespace); its error output is dropped. False when the tool could not be started at all,
  // which callers must not read as a tool that ran and printed nothing.
  bool runForStandardOutput(const std::string& path, const std::vector<std::string>& arguments,
                            std::optional<std::string>& output) const;

  // The tool's exit status (the signal number for a killed tool); -1 when it cannot be
  // executed, so that a missing tool never reads as success.
  int32_t launchTaskAndGetTermStatusWithCmd(const std::string& path,
                                            const std::vector<std::string>& arguments,
                                            bool suppressErrorOutput) const;
  int32_t launchTaskAndGetTermStatusWithCmd(const std::string& path,
                                            const std::vector<std::string>& arguments) const;
};

// Calls `action` at once with a completion callback, then blocks until the callback has been
// called or `timeoutSeconds` have passed. A timed-out action is not cancelled; its late
// callback is harmless. The caller learns the outcome through state its own callback set.
void runAndWait(int64_t timeoutSeconds,
                const std::function<void(std::function<void()> completion)>& action);

} // namespace utilities
