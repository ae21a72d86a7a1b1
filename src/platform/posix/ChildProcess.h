#pragma once

#include "platform/posix/UniqueFd.h"

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace platform::posix {

// Where one standard stream of a child goes.
enum class ChildStream {
  inherit, // the daemon's own stream
  null,    // /dev/null
  pipe,    // a pipe whose other end the ChildProcess holds
};

// What to start: an executable by absolute path, never through a shell.
struct SpawnRequest {
  std::string path{};                   // also argv[0]
  std::vector<std::string> arguments{}; // passed as they are
  // "NAME=value" texts; none: the daemon's own environment.
  std::optional<std::vector<std::string>> environment{};
  ChildStream input = ChildStream::inherit;
  ChildStream output = ChildStream::inherit;
  ChildStream error = ChildStream::inherit;
  std::optional<std::string> workingDirectory{};
  // The child leads a process group of its own, and signals reach the whole group.
  bool ownProcessGroup = false;
};

// Why spawn() failed: the step and its errno value.
struct SpawnFailure {
  enum class Stage {
    path,        // the path contains a NUL byte (EINVAL)
    argument,    // an argument contains a NUL byte (EINVAL)
    environment, // a variable contains a NUL byte (EINVAL)
    directory,   // the working directory contains a NUL byte (EINVAL)
    pipe,        // a pipe could not be made
    setup,       // posix_spawn's file actions or attributes could not be set
    spawn,       // posix_spawn itself failed
  };
  Stage stage = Stage::spawn;
  int error = 0;
};

// One started child. It starts with posix_spawn, no descriptor above 2 (but its pipes) open, an
// empty signal mask and every signal's default action. Its exit is observed without reaping it
// (through a pidfd where the kernel offers one), which keeps its process identifier, and so its
// group's, reserved until reap(): a signal never reaches a process that took the number over.
// The destructor kills and reaps a child that is still there, so none is left a zombie.
class ChildProcess {
public:
  using Clock = std::chrono::steady_clock;

  // Bytes collected from one output pipe.
  struct Capture {
    std::string bytes;
    bool truncated = false; // the child printed more than the limit; the rest was dropped
  };

  struct PumpOptions {
    std::string_view input{};         // written to the input pipe, which is then closed
    Capture* output = nullptr;        // null: the output pipe is drained and dropped
    Capture* error = nullptr;         // null: the error pipe is drained and dropped
    size_t limit = 64u * 1024 * 1024; // bytes kept per capture
    // None: no limit. At the deadline a child that has not exited times out; one that has, but
    // whose pipes are still held by what it left behind, has those killed and counts as done.
    std::optional<Clock::time_point> deadline{};
    std::function<bool()> isCancelled{}; // asked about every cancelInterval
    std::chrono::milliseconds cancelInterval{100};
    std::vector<int>* readErrors = nullptr; // receives the errno of each failed read or poll
  };
  enum class PumpOutcome { finished, timedOut, cancelled };

  // Starts the child. None, with `failure` set, when it could not be started.
  static std::optional<ChildProcess> spawn(const SpawnRequest& request, SpawnFailure* failure);

  ChildProcess(ChildProcess&& other) noexcept;
  ChildProcess& operator=(ChildProcess&&) = delete;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess();

  pid_t pid() const { return pid_; }
  // The daemon's ends of the pipes (invalid for a stream that is not a pipe): the input's write
  // end, the outputs' read ends, all close-on-exec and not blocking.
  UniqueFd& input() { return input_; }
  UniqueFd& output() { return output_; }
  UniqueFd& errorOutput() { return error_; }

  // Feeds the input and drains both output pipes through one poll loop until the child has
  // exited and both pipes reached their end, the deadline has passed or the caller cancels.
  PumpOutcome pump(const PumpOptions& options);

  // Whether the child has exited (not reaping it).
  bool hasExited();
  // Blocks until the child exits, not reaping it.
  void waitForExit();
  // Waits up to `limit` for the child to exit, not reaping it; whether it has.
  bool waitForExit(std::chrono::milliseconds limit);
  // Reaps the child, waiting for it, and returns its termination status: the exit code, or the
  // signal number for a child killed by a signal (-1 when it was reaped elsewhere).
  int reap();
  bool reaped() const { return reaped_; }
  // Sends `signal` to the child (to its group when it leads one) while it is not reaped;
  // whether it was sent.
  bool signal(int signal) const;
  // Closes the pipes and stops the child: SIGTERM, SIGKILL after `gracePeriod` (also to members
  // of its group that outlived it or ignored SIGTERM), then reaps it.
  void terminate(std::chrono::milliseconds gracePeriod);

private:
  ChildProcess(pid_t pid, UniqueFd pidfd, bool ownProcessGroup)
      : pid_(pid), pidfd_(std::move(pidfd)), ownProcessGroup_(ownProcessGroup) {}

  // Reads what the pipe holds now into `capture`; closes it at its end or on a read error.
  void drain(UniqueFd& pipe, Capture* capture, const PumpOptions& options);

  pid_t pid_ = -1;
  UniqueFd pidfd_;
  UniqueFd input_;
  UniqueFd output_;
  UniqueFd error_;
  bool ownProcessGroup_ = false;
  bool exited_ = false;
  bool reaped_ = false;
  int status_ = -1;
};

} // namespace platform::posix
