#pragma once

#include "platform/foundation/NSError.h"
#include "platform/posix/ChildProcess.h"
#include "tasks/processes/KLVTaskRunnerService.h"

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace tasks {

// Bytes kept per collected stream; what a tool prints beyond this is read and dropped, so that
// a tool cannot exhaust the agent's memory.
inline constexpr size_t kKLVMaxCollectedOutputBytes = 64u * 1024 * 1024;

// How long a tool that is being stopped gets between SIGTERM and SIGKILL.
inline constexpr std::chrono::milliseconds kKLVTerminationGracePeriod{250};

// One launched tool, driven entirely from the calling thread: its output pipes and its exit
// (through a pidfd) are watched by one poll loop, so no helper thread is started per run.
//
// The tool leads a process group of its own, so that stopping it also stops whatever it
// started. Its exit is observed without reaping it, which keeps its process identifier (and so
// its group identifier) reserved until the group has been signalled for the last time; the
// destructor kills and reaps a tool that is still there, so no run leaves a zombie.
class KLVToolProcess {
public:
  using Clock = std::chrono::steady_clock;

  enum class WaitOutcome { finished, timedOut, cancelled };

  // Starts the tool with standard input from /dev/null and a pipe for each collected stream
  // (a stream that is not collected goes to /dev/null). None, with `launchError` set, when the
  // input is unusable or the tool could not be started.
  static std::optional<KLVToolProcess> launch(const KLVTaskRunnerInput& input,
                                              platform::NSError* launchError);

  KLVToolProcess(KLVToolProcess&& other) noexcept = default;
  KLVToolProcess& operator=(KLVToolProcess&&) = delete;
  KLVToolProcess(const KLVToolProcess&) = delete;

  pid_t pid() const { return child_.pid(); }

  // Drains both pipes until the tool has exited and both reached their end, the deadline (none:
  // no limit) has passed, or `control` asks to cancel. When the tool exited in time but
  // processes it left behind still hold its pipes at the deadline, those are killed and the
  // run counts as finished with the output read so far.
  WaitOutcome wait(std::optional<Clock::time_point> deadline, const KLVExecutionControl* control);

  // Stops the tool and its group: SIGTERM, SIGKILL after the grace period, then reaps it.
  void terminate();
  // Reaps an exited tool and returns its termination status (exit code, or signal number).
  int reap();

  const std::string& valueOutput() const { return value_.bytes; }
  const std::string& errorOutput() const { return error_.bytes; }
  bool truncated() const { return value_.truncated || error_.truncated; }
  const std::vector<platform::NSError>& readErrors() const { return readErrors_; }

private:
  explicit KLVToolProcess(platform::posix::ChildProcess child) : child_(std::move(child)) {}

  platform::posix::ChildProcess child_; // kills and reaps a tool that is still there
  platform::posix::ChildProcess::Capture value_;
  platform::posix::ChildProcess::Capture error_;
  std::vector<platform::NSError> readErrors_;
};

} // namespace tasks
