#include "platform/posix/ChildProcess.h"

#include "platform/posix/RetryOnInterrupt.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace platform::posix {
namespace {

// How often the exit is looked at when the kernel offers no pidfd.
constexpr std::chrono::milliseconds kExitPollInterval{5};

bool containsNul(const std::string& text) {
  return text.find('\0') != std::string::npos;
}

// posix_spawn's attribute and file-action objects, destroyed on every path.
struct SpawnSetup {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  SpawnSetup() {
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
  }
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;
};

struct Pipe {
  UniqueFd read;
  UniqueFd write;
};

// A close-on-exec pipe whose end `nonBlockingEnd` (the daemon's) does not block.
std::optional<Pipe> makePipe(bool nonBlockingRead) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    return std::nullopt;
  }
  Pipe pipe{UniqueFd(fds[0]), UniqueFd(fds[1])};
  const int ours = nonBlockingRead ? pipe.read.get() : pipe.write.get();
  ::fcntl(ours, F_SETFL, ::fcntl(ours, F_GETFL) | O_NONBLOCK);
  return pipe;
}

// Blocks SIGPIPE for the calling thread while it writes to a child's standard input, and
// swallows a SIGPIPE raised by a child that closed its input early, so a write to a gone
// reader yields EPIPE instead of ending the daemon.
class ScopedSigpipeBlock {
public:
  ScopedSigpipeBlock() {
    sigemptyset(&pipeSet_);
    sigaddset(&pipeSet_, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSet_, &previous_);
  }
  ~ScopedSigpipeBlock() {
    if (sawEpipe_ && !sigismember(&previous_, SIGPIPE)) {
      const timespec zero{0, 0};
      while (sigtimedwait(&pipeSet_, nullptr, &zero) == SIGPIPE) {
      }
    }
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
  }
  ScopedSigpipeBlock(const ScopedSigpipeBlock&) = delete;
  ScopedSigpipeBlock& operator=(const ScopedSigpipeBlock&) = delete;
  void noteEpipe() { sawEpipe_ = true; }

private:
  sigset_t pipeSet_;
  sigset_t previous_;
  bool sawEpipe_ = false;
};

// Connects the child's `target` stream as `how` says; the pipe's ends land in `pipe`.
int connectStream(SpawnSetup& setup, int target, ChildStream how, std::optional<Pipe>& pipe,
                  SpawnFailure::Stage& stage) {
  const bool isInput = target == STDIN_FILENO;
  switch (how) {
  case ChildStream::inherit:
    return 0;
  case ChildStream::null:
    stage = SpawnFailure::Stage::setup;
    return posix_spawn_file_actions_addopen(&setup.actions, target, "/dev/null",
                                            isInput ? O_RDONLY : O_WRONLY, 0);
  case ChildStream::pipe:
    stage = SpawnFailure::Stage::pipe;
    pipe = makePipe(!isInput);
    if (!pipe) {
      return errno != 0 ? errno : EMFILE;
    }
    stage = SpawnFailure::Stage::setup;
    return posix_spawn_file_actions_adddup2(&setup.actions,
                                            isInput ? pipe->read.get() : pipe->write.get(), target);
  }
  return 0;
}

std::optional<SpawnFailure> validate(const SpawnRequest& request) {
  using Stage = SpawnFailure::Stage;
  if (containsNul(request.path)) {
    return SpawnFailure{Stage::path, EINVAL};
  }
  if (std::any_of(request.arguments.begin(), request.arguments.end(), containsNul)) {
    return SpawnFailure{Stage::argument, EINVAL};
  }
  if (request.environment &&
      std::any_of(request.environment->begin(), request.environment->end(), containsNul)) {
    return SpawnFailure{Stage::environment, EINVAL};
  }
  if (request.workingDirectory && containsNul(*request.workingDirectory)) {
    return SpawnFailure{Stage::directory, EINVAL};
  }
  return std::nullopt;
}

} // namespace

std::optional<ChildProcess> ChildProcess::spawn(const SpawnRequest& request,
                                                SpawnFailure* failure) {
  SpawnFailure ignored;
  if (failure == nullptr) {
    failure = &ignored;
  }
  if (auto invalid = validate(request)) {
    *failure = *invalid;
    return std::nullopt;
  }
  std::vector<char*> argv;
  argv.reserve(request.arguments.size() + 2);
  argv.push_back(const_cast<char*>(request.path.c_str()));
  for (const auto& argument : request.arguments) {
    argv.push_back(const_cast<char*>(argument.c_str()));
  }
  argv.push_back(nullptr);
  std::vector<char*> envp;
  if (request.environment) {
    for (const auto& variable : *request.environment) {
      envp.push_back(const_cast<char*>(variable.c_str()));
    }
    envp.push_back(nullptr);
  }

  SpawnSetup setup;
  std::optional<Pipe> inputPipe, outputPipe, errorPipe;
  SpawnFailure::Stage stage = SpawnFailure::Stage::setup;
  int error = connectStream(setup, STDIN_FILENO, request.input, inputPipe, stage);
  if (error == 0) {
    error = connectStream(setup, STDOUT_FILENO, request.output, outputPipe, stage);
  }
  if (error == 0) {
    error = connectStream(setup, STDERR_FILENO, request.error, errorPipe, stage);
  }
  if (error == 0) {
    stage = SpawnFailure::Stage::setup;
    // Descriptors that other code opened without close-on-exec must not reach the child.
    error = posix_spawn_file_actions_addclosefrom_np(&setup.actions, STDERR_FILENO + 1);
  }
  if (error == 0 && request.workingDirectory) {
    error = posix_spawn_file_actions_addchdir_np(&setup.actions, request.workingDirectory->c_str());
  }
  sigset_t noSignals, allSignals;
  sigemptyset(&noSignals);
  sigfillset(&allSignals);
  short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
  if (error == 0) {
    error = posix_spawnattr_setsigmask(&setup.attributes, &noSignals);
  }
  if (error == 0) {
    error = posix_spawnattr_setsigdefault(&setup.attributes, &allSignals);
  }
  if (error == 0 && request.ownProcessGroup) {
    flags |= POSIX_SPAWN_SETPGROUP;
    error = posix_spawnattr_setpgroup(&setup.attributes, 0);
  }
  if (error == 0) {
    error = posix_spawnattr_setflags(&setup.attributes, flags);
  }
  if (error != 0) {
    *failure = SpawnFailure{stage, error};
    return std::nullopt;
  }

  pid_t pid = -1;
  error = ::posix_spawn(&pid, request.path.c_str(), &setup.actions, &setup.attributes, argv.data(),
                        request.environment ? envp.data() : environ);
  if (error != 0) {
    *failure = SpawnFailure{SpawnFailure::Stage::spawn, error};
    return std::nullopt;
  }
  // The child is ours and not reaped, so its identifier cannot name another process here.
  ChildProcess child(pid, UniqueFd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0))),
                     request.ownProcessGroup);
  // The child's ends close with the pipes here, so ours see the end once the child's do.
  if (inputPipe) {
    child.input_ = std::move(inputPipe->write);
  }
  if (outputPipe) {
    child.output_ = std::move(outputPipe->read);
  }
  if (errorPipe) {
    child.error_ = std::move(errorPipe->read);
  }
  return child;
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)), pidfd_(std::move(other.pidfd_)),
      input_(std::move(other.input_)), output_(std::move(other.output_)),
      error_(std::move(other.error_)), ownProcessGroup_(other.ownProcessGroup_),
      exited_(other.exited_), reaped_(std::exchange(other.reaped_, true)), status_(other.status_) {}

ChildProcess::~ChildProcess() {
  if (pid_ > 0 && !reaped_) {
    signal(SIGKILL);
    reap();
  }
}

bool ChildProcess::signal(int signal) const {
  // The identifier (and the group's) stays ours while the child is not reaped.
  if (pid_ <= 0 || reaped_) {
    return false;
  }
  return (ownProcessGroup_ ? ::killpg(pid_, signal) : ::kill(pid_, signal)) == 0;
}

bool ChildProcess::hasExited() {
  if (exited_) {
    return true;
  }
  siginfo_t info{};
  if (::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) != 0) {
    // Not our child any more (someone else reaped it): nothing is left to wait for.
    if (errno == ECHILD) {
      exited_ = reaped_ = true;
    }
    return exited_;
  }
  if (info.si_pid == pid_) {
    exited_ = true;
    status_ = info.si_status;
  }
  return exited_;
}

void ChildProcess::waitForExit() {
  if (exited_) {
    return;
  }
  siginfo_t info{};
  if (retryOnInterrupt([&] {
        return ::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOWAIT);
      }) == 0) {
    exited_ = true;
    status_ = info.si_status;
  } else if (errno == ECHILD) {
    exited_ = reaped_ = true;
  }
}

bool ChildProcess::waitForExit(std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  while (!hasExited() && Clock::now() < deadline) {
    if (pidfd_) {
      pollfd fd{pidfd_.get(), POLLIN, 0};
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
      ::poll(&fd, 1, static_cast<int>(std::max<int64_t>(left.count(), 0)));
    } else {
      std::this_thread::sleep_for(kExitPollInterval);
    }
  }
  return exited_;
}

int ChildProcess::reap() {
  if (reaped_ || pid_ <= 0) {
    return status_;
  }
  siginfo_t info{};
  const int result =
      retryOnInterrupt([&] { return ::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED); });
  reaped_ = true;
  exited_ = true;
  if (result == 0) {
    // For a child killed by a signal, the signal number, as the platform reports it.
    status_ = info.si_status;
  }
  return status_;
}

void ChildProcess::terminate(std::chrono::milliseconds gracePeriod) {
  input_.reset();
  output_.reset();
  error_.reset();
  if (reaped_) {
    return;
  }
  signal(SIGTERM);
  waitForExit(gracePeriod);
  signal(SIGKILL);
  reap();
}

void ChildProcess::drain(UniqueFd& pipe, Capture* capture, const PumpOptions& options) {
  std::array<char, 65536> buffer;
  while (pipe) {
    const ssize_t got =
        retryOnInterrupt([&] { return ::read(pipe.get(), buffer.data(), buffer.size()); });
    if (got > 0) {
      if (capture != nullptr) {
        const size_t room = options.limit - std::min(options.limit, capture->bytes.size());
        const size_t kept = std::min(room, static_cast<size_t>(got));
        capture->bytes.append(buffer.data(), kept);
        capture->truncated = capture->truncated || kept < static_cast<size_t>(got);
      }
      if (static_cast<size_t>(got) < buffer.size()) {
        return; // the pipe is empty for now
      }
      continue;
    }
    if (got < 0 && errno == EAGAIN) {
      return;
    }
    if (got < 0 && options.readErrors != nullptr) {
      options.readErrors->push_back(errno);
    }
    pipe.reset();
  }
}

ChildProcess::PumpOutcome ChildProcess::pump(const PumpOptions& options) {
  std::optional<ScopedSigpipeBlock> sigpipe;
  if (input_) {
    sigpipe.emplace();
  }
  size_t inputOffset = 0;
  if (input_ && options.input.empty()) {
    input_.reset();
  }
  hasExited();
  while (!exited_ || output_ || error_ || input_) {
    std::optional<std::chrono::milliseconds> timeout;
    if (options.deadline) {
      const auto now = Clock::now();
      if (now >= *options.deadline) {
        if (!exited_) {
          return PumpOutcome::timedOut;
        }
        // The child is done; what it left behind holds the pipes open.
        signal(SIGKILL);
        input_.reset();
        output_.reset();
        error_.reset();
        break;
      }
      timeout = std::chrono::ceil<std::chrono::milliseconds>(*options.deadline - now);
    }
    auto shorten = [&timeout](std::chrono::milliseconds limit) {
      timeout = timeout ? std::min(*timeout, limit) : limit;
    };
    if (options.isCancelled) {
      shorten(options.cancelInterval);
    }
    if (!exited_ && !pidfd_) {
      shorten(kExitPollInterval);
    }

    enum Which { outputPipe, errorPipe, inputPipe, exitEvent };
    std::array<pollfd, 4> fds{};
    std::array<Which, 4> which{};
    nfds_t count = 0;
    if (output_) {
      fds[count] = {output_.get(), POLLIN, 0}, which[count++] = outputPipe;
    }
    if (error_) {
      fds[count] = {error_.get(), POLLIN, 0}, which[count++] = errorPipe;
    }
    if (input_) {
      fds[count] = {input_.get(), POLLOUT, 0}, which[count++] = inputPipe;
    }
    if (!exited_ && pidfd_) {
      fds[count] = {pidfd_.get(), POLLIN, 0}, which[count++] = exitEvent;
    }
    const int ready = ::poll(fds.data(), count, timeout ? static_cast<int>(timeout->count()) : -1);
    if (ready < 0 && errno != EINTR) {
      if (options.readErrors != nullptr) {
        options.readErrors->push_back(errno);
      }
      input_.reset();
      output_.reset();
      error_.reset();
    }
    for (nfds_t index = 0; ready > 0 && index < count; ++index) {
      if (fds[index].revents == 0) {
        continue;
      }
      switch (which[index]) {
      case outputPipe:
        drain(output_, options.output, options);
        break;
      case errorPipe:
        drain(error_, options.error, options);
        break;
      case inputPipe: {
        const ssize_t written = ::write(input_.get(), options.input.data() + inputOffset,
                                        options.input.size() - inputOffset);
        if (written > 0) {
          inputOffset += static_cast<size_t>(written);
        } else if (written < 0 && errno != EAGAIN && errno != EINTR) {
          if (errno == EPIPE) {
            sigpipe->noteEpipe();
          }
          input_.reset();
        }
        // The child sees the end of its input once the whole text is written.
        if (input_ && inputOffset == options.input.size()) {
          input_.reset();
        }
        break;
      }
      case exitEvent:
        break;
      }
    }
    hasExited();
    if (options.isCancelled && options.isCancelled()) {
      return PumpOutcome::cancelled;
    }
  }
  return PumpOutcome::finished;
}

} // namespace platform::posix
