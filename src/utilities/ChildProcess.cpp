#include "utilities/ChildProcess.h"

#include "utilities/SpawnSetup.h"
#include "utilities/UniqueFd.h"

#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace utilities {
namespace {

struct Pipe {
  UniqueFd read;
  UniqueFd write;
};

std::optional<Pipe> makePipe(std::string* failureReason) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    *failureReason = std::string("pipe: ") + std::strerror(errno);
    return std::nullopt;
  }
  return Pipe{UniqueFd(fds[0]), UniqueFd(fds[1])};
}

bool containsNul(const std::string& text) {
  return text.find('\0') != std::string::npos;
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
  void noteEpipe() { sawEpipe_ = true; }

private:
  sigset_t pipeSet_;
  sigset_t previous_;
  bool sawEpipe_ = false;
};

// One output pipe being drained.
struct Drain {
  UniqueFd fd;
  std::string* sink = nullptr; // null: bytes are dropped
  bool* truncated = nullptr;

  void consume(const char* data, size_t size) {
    if (sink == nullptr) {
      return;
    }
    size_t room = kMaxCapturedBytes - std::min(kMaxCapturedBytes, sink->size());
    if (size > room) {
      *truncated = true;
      size = room;
    }
    sink->append(data, size);
  }
};

// Reads both output pipes to their end and writes the input text, all through one poll loop.
void pumpPipes(Drain& out, Drain& err, UniqueFd& input, const std::string& inputText) {
  ScopedSigpipeBlock sigpipe;
  size_t inputOffset = 0;
  if (input && inputText.empty()) {
    input.reset();
  }
  std::array<char, 65536> buffer;
  while (out.fd || err.fd || input) {
    std::array<pollfd, 3> fds{};
    std::array<int, 3> which{};
    nfds_t count = 0;
    if (out.fd) {
      fds[count] = {out.fd.get(), POLLIN, 0}, which[count++] = 0;
    }
    if (err.fd) {
      fds[count] = {err.fd.get(), POLLIN, 0}, which[count++] = 1;
    }
    if (input) {
      fds[count] = {input.get(), POLLOUT, 0}, which[count++] = 2;
    }
    if (::poll(fds.data(), count, -1) < 0) {
      if (errno == EINTR) {
        continue;
      }
      break;
    }
    for (nfds_t index = 0; index < count; ++index) {
      if (fds[index].revents == 0) {
        continue;
      }
      if (which[index] == 2) {
        ssize_t written =
            ::write(input.get(), inputText.data() + inputOffset, inputText.size() - inputOffset);
        if (written > 0) {
          inputOffset += static_cast<size_t>(written);
        } else if (written < 0 && errno != EAGAIN && errno != EINTR) {
          if (errno == EPIPE) {
            sigpipe.noteEpipe();
          }
          input.reset();
        }
        // The child sees the end of its input once the whole text is written.
        if (input && inputOffset == inputText.size()) {
          input.reset();
        }
        continue;
      }
      Drain& drain = which[index] == 0 ? out : err;
      ssize_t got = ::read(drain.fd.get(), buffer.data(), buffer.size());
      if (got > 0) {
        drain.consume(buffer.data(), static_cast<size_t>(got));
      } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
        drain.fd.reset();
      }
    }
  }
}

int waitForExit(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) {
      return -1;
    }
  }
  if (WIFEXITED(status)) {
    return WEXITSTATUS(status);
  }
  if (WIFSIGNALED(status)) {
    return WTERMSIG(status);
  }
  return -1;
}

// Waits for a started child if pumping its pipes was cut short by an exception, so that no
// zombie is left behind. Declared before the pipes, so they are closed first.
struct ReapOnScopeExit {
  pid_t pid;
  ~ReapOnScopeExit() {
    if (pid > 0) {
      waitForExit(pid);
    }
  }
};

} // namespace

bool isExecutableFile(const std::string& path) {
  if (path.empty() || containsNul(path)) {
    return false;
  }
  struct stat info;
  if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
    return false;
  }
  return ::faccessat(AT_FDCWD, path.c_str(), X_OK, AT_EACCESS) == 0;
}

std::optional<ChildResult> runChild(const ChildRequest& request, std::string* failureReason) {
  std::string ignoredReason;
  if (failureReason == nullptr) {
    failureReason = &ignoredReason;
  }
  if (containsNul(request.path)) {
    *failureReason = "the launch path contains a NUL byte";
    return std::nullopt;
  }
  std::vector<char*> argv;
  argv.reserve(request.arguments.size() + 2);
  argv.push_back(const_cast<char*>(request.path.c_str()));
  for (const auto& argument : request.arguments) {
    if (containsNul(argument)) {
      *failureReason = "an argument contains a NUL byte";
      return std::nullopt;
    }
    argv.push_back(const_cast<char*>(argument.c_str()));
  }
  argv.push_back(nullptr);
  char* emptyEnvironment[] = {nullptr};
  char** envp = request.inheritEnvironment ? environ : emptyEnvironment;

  SpawnSetup setup;
  std::optional<Pipe> inputPipe, outputPipe, errorPipe;
  if (request.standardInput) {
    if (!(inputPipe = makePipe(failureReason))) {
      return std::nullopt;
    }
    posix_spawn_file_actions_adddup2(&setup.actions, inputPipe->read.get(), STDIN_FILENO);
  }
  if (request.standardOutput != ChildStream::inherit) {
    if (!(outputPipe = makePipe(failureReason))) {
      return std::nullopt;
    }
    posix_spawn_file_actions_adddup2(&setup.actions, outputPipe->write.get(), STDOUT_FILENO);
  }
  if (request.standardError != ChildStream::inherit) {
    if (!(errorPipe = makePipe(failureReason))) {
      return std::nullopt;
    }
    posix_spawn_file_actions_adddup2(&setup.actions, errorPipe->write.get(), STDERR_FILENO);
  }
  // Descriptors that other code opened without close-on-exec must not reach the tool.
  posix_spawn_file_actions_addclosefrom_np(&setup.actions, STDERR_FILENO + 1);
  sigset_t noSignals, allSignals;
  sigemptyset(&noSignals);
  sigfillset(&allSignals);
  posix_spawnattr_setsigmask(&setup.attributes, &noSignals);
  posix_spawnattr_setsigdefault(&setup.attributes, &allSignals);
  posix_spawnattr_setflags(&setup.attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  pid_t pid = -1;
  int spawnError = ::posix_spawn(&pid, request.path.c_str(), &setup.actions, &setup.attributes,
                                 argv.data(), envp);
  if (spawnError != 0) {
    *failureReason = std::string("launch path not accessible: ") + std::strerror(spawnError);
    return std::nullopt;
  }

  // Our copies of the child's ends must go, or the pipes would never reach their end.
  ChildResult result;
  ReapOnScopeExit reaper{pid};
  Drain out, err;
  UniqueFd input;
  if (inputPipe) {
    inputPipe->read.reset();
    input = std::move(inputPipe->write);
    ::fcntl(input.get(), F_SETFL, ::fcntl(input.get(), F_GETFL) | O_NONBLOCK);
  }
  if (outputPipe) {
    outputPipe->write.reset();
    out.fd = std::move(outputPipe->read);
    out.sink = request.standardOutput == ChildStream::capture ? &result.output : nullptr;
    out.truncated = &result.truncated;
  }
  if (errorPipe) {
    errorPipe->write.reset();
    err.fd = std::move(errorPipe->read);
    err.sink = request.standardError == ChildStream::capture ? &result.errorOutput : nullptr;
    err.truncated = &result.truncated;
  }
  pumpPipes(out, err, input, request.standardInput.value_or(std::string()));
  out.fd.reset();
  err.fd.reset();
  result.terminationStatus = waitForExit(pid);
  reaper.pid = -1;
  return result;
}

} // namespace utilities
