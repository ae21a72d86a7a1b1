#include "tasks/processes/KLVToolProcess.h"

#include "utilities/SpawnSetup.h"

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

namespace tasks {

using platform::NSError;
using platform::UniqueFd;

namespace {

// How often the loop looks at the execution control, and at the tool's exit when the kernel
// offers no pidfd.
constexpr std::chrono::milliseconds kControlInterval{100};
constexpr std::chrono::milliseconds kExitPollInterval{5};

bool containsNul(const std::string& text) {
  return text.find('\0') != std::string::npos;
}

NSError invalidInput(const std::string& reason) {
  return NSError(platform::NSPOSIXErrorDomain, EINVAL,
                 {{platform::NSLocalizedDescriptionKey, reason}});
}

// The checks of everything that becomes part of the child's argv, environment or directory:
// the kernel takes C strings, so an embedded NUL would silently cut a value short.
std::optional<NSError> validate(const KLVTaskRunnerInput& input) {
  if (input.executablePath.empty() || input.executablePath.front() != '/') {
    return invalidInput("The executable path is not absolute: " + input.executablePath);
  }
  if (containsNul(input.executablePath)) {
    return invalidInput("The executable path contains a NUL byte");
  }
  if (std::any_of(input.arguments.begin(), input.arguments.end(), containsNul)) {
    return invalidInput("An argument contains a NUL byte");
  }
  if (input.environment) {
    for (const auto& [name, value] : *input.environment) {
      if (name.empty() || name.find('=') != std::string::npos || containsNul(name) ||
          containsNul(value)) {
        return invalidInput("An environment variable has an invalid name or value");
      }
    }
  }
  if (input.currentDirectoryPath && containsNul(*input.currentDirectoryPath)) {
    return invalidInput("The working directory contains a NUL byte");
  }
  return std::nullopt;
}

struct Pipe {
  UniqueFd read;
  UniqueFd write;
};

std::optional<Pipe> makePipe() {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    return std::nullopt;
  }
  Pipe pipe{UniqueFd(fds[0]), UniqueFd(fds[1])};
  ::fcntl(pipe.read.get(), F_SETFL, ::fcntl(pipe.read.get(), F_GETFL) | O_NONBLOCK);
  return pipe;
}

// Connects `target` to the write end of a fresh pipe, or to /dev/null when not collected.
bool connectOutput(utilities::SpawnSetup& setup, int target, bool collect,
                   std::optional<Pipe>& pipe) {
  if (!collect) {
    return posix_spawn_file_actions_addopen(&setup.actions, target, "/dev/null", O_WRONLY, 0) == 0;
  }
  pipe = makePipe();
  return pipe && posix_spawn_file_actions_adddup2(&setup.actions, pipe->write.get(), target) == 0;
}

int terminationStatus(const siginfo_t& info) {
  // For a tool killed by a signal the status is the signal number, as the platform reports it.
  return info.si_status;
}

} // namespace

std::optional<KLVToolProcess> KLVToolProcess::launch(const KLVTaskRunnerInput& input,
                                                     NSError* launchError) {
  if (auto invalid = validate(input)) {
    platform::setError(launchError, std::move(*invalid));
    return std::nullopt;
  }
  std::vector<char*> argv;
  argv.reserve(input.arguments.size() + 2);
  argv.push_back(const_cast<char*>(input.executablePath.c_str()));
  for (const auto& argument : input.arguments) {
    argv.push_back(const_cast<char*>(argument.c_str()));
  }
  argv.push_back(nullptr);

  std::vector<std::string> variables;
  std::vector<char*> envp;
  if (input.environment) {
    variables.reserve(input.environment->size());
    for (const auto& [name, value] : *input.environment) {
      variables.push_back(name + "=" + value);
    }
    for (auto& variable : variables) {
      envp.push_back(variable.data());
    }
    envp.push_back(nullptr);
  }

  utilities::SpawnSetup setup;
  std::optional<Pipe> valuePipe, errorPipe;
  bool prepared =
      posix_spawn_file_actions_addopen(&setup.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0) ==
          0 &&
      connectOutput(setup, STDOUT_FILENO, input.shouldReadOutputValue, valuePipe) &&
      connectOutput(setup, STDERR_FILENO, input.shouldReadOutputError, errorPipe) &&
      // Descriptors that other code opened without close-on-exec must not reach the tool.
      posix_spawn_file_actions_addclosefrom_np(&setup.actions, STDERR_FILENO + 1) == 0;
  if (prepared && input.currentDirectoryPath) {
    prepared = posix_spawn_file_actions_addchdir_np(&setup.actions,
                                                    input.currentDirectoryPath->c_str()) == 0;
  }
  if (!prepared) {
    platform::setError(launchError, NSError::posix(errno != 0 ? errno : ENOMEM));
    return std::nullopt;
  }
  sigset_t noSignals, allSignals;
  sigemptyset(&noSignals);
  sigfillset(&allSignals);
  posix_spawnattr_setsigmask(&setup.attributes, &noSignals);
  posix_spawnattr_setsigdefault(&setup.attributes, &allSignals);
  // A group of its own: stopping the tool reaches the processes it started as well.
  posix_spawnattr_setpgroup(&setup.attributes, 0);
  posix_spawnattr_setflags(&setup.attributes,
                           POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);

  pid_t pid = -1;
  const int spawnError =
      ::posix_spawn(&pid, input.executablePath.c_str(), &setup.actions, &setup.attributes,
                    argv.data(), input.environment ? envp.data() : environ);
  if (spawnError != 0) {
    platform::setError(launchError, NSError::posix(spawnError, input.executablePath));
    return std::nullopt;
  }
  // The child is ours and not reaped, so its identifier cannot name another process here.
  UniqueFd pidfd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
  return KLVToolProcess(pid, std::move(pidfd), valuePipe ? std::move(valuePipe->read) : UniqueFd(),
                        errorPipe ? std::move(errorPipe->read) : UniqueFd());
  // The write ends of the pipes close here, so the read ends see the end once the tool's do.
}

KLVToolProcess::KLVToolProcess(pid_t pid, UniqueFd pidfd, UniqueFd value, UniqueFd error)
    : pid_(pid), pidfd_(std::move(pidfd)) {
  value_.fd = std::move(value);
  error_.fd = std::move(error);
}

KLVToolProcess::KLVToolProcess(KLVToolProcess&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)), pidfd_(std::move(other.pidfd_)),
      value_(std::move(other.value_)), error_(std::move(other.error_)), exited_(other.exited_),
      reaped_(std::exchange(other.reaped_, true)), status_(other.status_),
      readErrors_(std::move(other.readErrors_)) {}

KLVToolProcess::~KLVToolProcess() {
  if (pid_ > 0 && !reaped_) {
    signalGroup(SIGKILL);
    reap();
  }
}

void KLVToolProcess::signalGroup(int signal) const {
  // The group still exists while the unreaped leader does, so its identifier is still ours.
  if (!reaped_) {
    ::killpg(pid_, signal);
  }
}

void KLVToolProcess::drain(Stream& stream) {
  std::array<char, 65536> buffer;
  while (stream.fd) {
    const ssize_t got = ::read(stream.fd.get(), buffer.data(), buffer.size());
    if (got > 0) {
      const size_t room = kKLVMaxCollectedOutputBytes - stream.bytes.size();
      const size_t kept = std::min(room, static_cast<size_t>(got));
      stream.bytes.append(buffer.data(), kept);
      stream.truncated = stream.truncated || kept < static_cast<size_t>(got);
      if (static_cast<size_t>(got) < buffer.size()) {
        return; // the pipe is empty for now
      }
      continue;
    }
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got < 0 && errno == EAGAIN) {
      return;
    }
    if (got < 0) {
      readErrors_.push_back(NSError::posix(errno));
    }
    stream.fd.reset();
  }
}

void KLVToolProcess::checkExit() {
  if (exited_) {
    return;
  }
  siginfo_t info{};
  if (::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) != 0) {
    // Not our child any more (someone else reaped it): nothing is left to wait for.
    if (errno == ECHILD) {
      exited_ = reaped_ = true;
    }
    return;
  }
  if (info.si_pid == pid_) {
    exited_ = true;
    status_ = terminationStatus(info);
  }
}

KLVToolProcess::WaitOutcome KLVToolProcess::wait(std::optional<Clock::time_point> deadline,
                                                 const KLVExecutionControl* control) {
  checkExit();
  while (!exited_ || value_.fd || error_.fd) {
    std::optional<std::chrono::milliseconds> timeout;
    if (deadline) {
      const auto now = Clock::now();
      if (now >= *deadline) {
        if (!exited_) {
          return WaitOutcome::timedOut;
        }
        // The tool is done; what it left behind holds the pipes open.
        signalGroup(SIGKILL);
        value_.fd.reset();
        error_.fd.reset();
        break;
      }
      timeout = std::chrono::ceil<std::chrono::milliseconds>(*deadline - now);
    }
    auto shorten = [&timeout](std::chrono::milliseconds limit) {
      timeout = timeout ? std::min(*timeout, limit) : limit;
    };
    if (control != nullptr) {
      shorten(kControlInterval);
    }
    if (!exited_ && !pidfd_) {
      shorten(kExitPollInterval);
    }

    std::array<pollfd, 3> fds{};
    std::array<Stream*, 3> streams{};
    nfds_t count = 0;
    for (Stream* stream : {&value_, &error_}) {
      if (stream->fd) {
        streams[count] = stream;
        fds[count++] = {stream->fd.get(), POLLIN, 0};
      }
    }
    if (!exited_ && pidfd_) {
      fds[count++] = {pidfd_.get(), POLLIN, 0};
    }
    const int ready = ::poll(fds.data(), count, timeout ? static_cast<int>(timeout->count()) : -1);
    if (ready < 0 && errno != EINTR) {
      readErrors_.push_back(NSError::posix(errno));
      value_.fd.reset();
      error_.fd.reset();
    }
    for (nfds_t index = 0; ready > 0 && index < count; ++index) {
      if (fds[index].revents != 0 && streams[index] != nullptr) {
        drain(*streams[index]);
      }
    }
    checkExit();
    if (control != nullptr && control->isCancelled()) {
      return WaitOutcome::cancelled;
    }
  }
  return WaitOutcome::finished;
}

void KLVToolProcess::waitForExit(std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  checkExit();
  while (!exited_ && Clock::now() < deadline) {
    if (pidfd_) {
      pollfd fd{pidfd_.get(), POLLIN, 0};
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
      ::poll(&fd, 1, static_cast<int>(std::max<int64_t>(left.count(), 0)));
    } else {
      std::this_thread::sleep_for(kExitPollInterval);
    }
    checkExit();
  }
}

void KLVToolProcess::terminate() {
  value_.fd.reset();
  error_.fd.reset();
  if (reaped_) {
    return;
  }
  signalGroup(SIGTERM);
  waitForExit(kKLVTerminationGracePeriod);
  // Also ends members of the group that outlived the tool or ignored SIGTERM.
  signalGroup(SIGKILL);
  reap();
}

int KLVToolProcess::reap() {
  if (reaped_) {
    return status_;
  }
  siginfo_t info{};
  int result;
  do {
    result = ::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED);
  } while (result != 0 && errno == EINTR);
  reaped_ = true;
  exited_ = true;
  if (result == 0) {
    status_ = terminationStatus(info);
  }
  return status_;
}

} // namespace tasks
