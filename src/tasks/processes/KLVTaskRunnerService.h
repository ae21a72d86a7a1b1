#pragma once

#include "platform/foundation/NSError.h"
#include "platform/foundation/SystemVersion.h"
#include "platform/foundation/URL.h"

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace tasks {

inline constexpr const char* kKLVTaskRunnerServiceErrorDomain = "kKLVTaskRunnerServiceErrorDomain";
enum KLVTaskRunnerServiceErrorCode : int64_t {
  kKLVTaskRunnerServiceLaunchFailed = 101,
  kKLVTaskRunnerServiceTimedOut = 102,
  kKLVTaskRunnerServiceReadFailed = 103,
};
// Under this key a read failure carries the tool's arguments.
inline constexpr const char* kKLVTaskRunnerServiceArgumentsKey =
    "kKLVTaskRunnerServiceArgumentsKey";

// Pause and cancel control of a running tool. No task of the agent hands one in; the runner
// only honours `isCancelled` while it waits.
class KLVExecutionControl {
public:
  virtual ~KLVExecutionControl() = default;
  virtual bool isCancelled() const = 0;
};

// What to run and how.
struct KLVTaskRunnerInput {
  explicit KLVTaskRunnerInput(std::string executablePath)
      : executablePath(std::move(executablePath)) {}
  explicit KLVTaskRunnerInput(const platform::URL& executableURL)
      : executablePath(executableURL.path()) {}

  std::string executablePath;
  std::vector<std::string> arguments;
  // None: the child inherits the agent's environment.
  std::optional<std::map<std::string, std::string>> environment;
  // None: the child inherits the agent's working directory.
  std::optional<std::string> currentDirectoryPath;
  bool shouldRunTaskUntilFinish = true;
  bool shouldReadOutputValue = true;
  bool shouldReadOutputError = true;
  int qualityOfService = -1;
  // Runs on the calling thread right after the launch, with the child's process identifier.
  std::function<void(pid_t)> launchBlock;
  std::shared_ptr<KLVExecutionControl> executionControl;

  double timeoutInterval() const { return timeoutInterval_; }
  // Also decides `shouldRunTaskUntilFinish`: an interval of 0 means "no limit".
  void setTimeoutInterval(double seconds) {
    timeoutInterval_ = seconds;
    shouldRunTaskUntilFinish = seconds == 0;
  }

private:
  double timeoutInterval_ = 0;
};

// The outcome of a tool that ran to its end. A non-zero status is not an error of the runner.
class KLVTaskRunnerOutput {
public:
  KLVTaskRunnerOutput(int status, std::optional<std::string> valueOutput,
                      std::optional<std::string> errorOutput)
      : status_(status), valueOutput_(std::move(valueOutput)),
        errorOutput_(std::move(errorOutput)) {}

  // The termination status: the exit code, or the signal number for a killed tool.
  int status() const { return status_; }
  bool isExitStatusSuccess() const { return status_ == 0; }
  // The raw bytes of each stream; none when the stream was not collected.
  const std::optional<std::string>& valueOutput() const { return valueOutput_; }
  const std::optional<std::string>& errorOutput() const { return errorOutput_; }
  // The bytes as text; none when they were not collected or are not valid UTF-8.
  std::optional<std::string> valueText() const;
  std::optional<std::string> errorText() const;

private:
  int status_;
  std::optional<std::string> valueOutput_;
  std::optional<std::string> errorOutput_;
};

// Runs an external tool synchronously: never through a shell, standard input from /dev/null,
// both output streams drained concurrently, and a time limit that really ends the tool. The
// calling thread blocks for the whole run. Virtual so that tests can stand in for the tools.
class KLVTaskRunnerService {
public:
  KLVTaskRunnerService() : KLVTaskRunnerService(platform::SystemVersion::current()) {}
  explicit KLVTaskRunnerService(platform::SystemVersion systemVersion)
      : systemVersion_(systemVersion) {}
  virtual ~KLVTaskRunnerService() = default;

  // Always with a limit: an interval of 0 expires at once.
  std::optional<KLVTaskRunnerOutput>
  executeTaskWithExecutablePath(const std::string& executablePath,
                                const std::vector<std::string>& arguments, double timeoutInterval,
                                platform::NSError* error);

  // None with `error` set (codes 101 to 103) when the tool could not be run to its end.
  virtual std::optional<KLVTaskRunnerOutput> executeTaskWithInput(const KLVTaskRunnerInput& input,
                                                                  platform::NSError* error);

  const platform::SystemVersion& systemVersion() const { return systemVersion_; }

private:
  platform::SystemVersion systemVersion_;
};

} // namespace tasks
