#include "AgentProcess.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace bench {

bool accepts(const std::string& path) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    return false;
  }
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
  const bool connected =
      ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return connected;
}

namespace {

std::vector<char*> argumentsOf(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  for (const std::string& argument : argv) {
    args.push_back(const_cast<char*>(argument.c_str()));
  }
  args.push_back(nullptr);
  return args;
}

} // namespace

namespace {

pid_t spawnQuietWith(const std::vector<std::string>& argv, const std::string& errorLog,
                     char* const environment[]) {
  auto args = argumentsOf(argv);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (errorLog.empty()) {
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  } else {
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errorLog.c_str(),
                                     O_WRONLY | O_CREAT | O_APPEND, 0600);
  }
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int spawned = ::posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environment);
  posix_spawn_file_actions_destroy(&actions);
  return spawned == 0 ? pid : -1;
}

} // namespace

pid_t spawnQuiet(const std::vector<std::string>& argv, const std::string& errorLog) {
  char* environment[] = {nullptr};
  return spawnQuietWith(argv, errorLog, environment);
}

pid_t spawnAgent(const std::string& errorLog) {
  // As resources/com.quillby.Lumora5.Agent.service sets it.
  char tunables[] = "GLIBC_TUNABLES=glibc.malloc.hugetlb=1";
  char* environment[] = {tunables, nullptr};
  return spawnQuietWith({kAgentPath}, errorLog, environment);
}

pid_t spawnReading(const std::vector<std::string>& argv, int& output) {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) {
    return -1;
  }
  auto args = argumentsOf(argv);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, ends[1], STDOUT_FILENO);
  pid_t pid = 0;
  const int spawned = ::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(ends[1]);
  if (spawned != 0) {
    ::close(ends[0]);
    return -1;
  }
  output = ends[0];
  return pid;
}

std::string readToEnd(int fd) {
  std::string text;
  char buffer[4096];
  ssize_t got = 0;
  while ((got = ::read(fd, buffer, sizeof buffer)) > 0 || (got < 0 && errno == EINTR)) {
    if (got > 0) {
      text.append(buffer, static_cast<size_t>(got));
    }
  }
  ::close(fd);
  return text;
}

bool waitUntilAccepting(pid_t pid, const std::string& socketPath) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < deadline) {
    if (accepts(socketPath)) {
      return true;
    }
    int status = 0;
    if (::waitpid(pid, &status, WNOHANG) == pid) {
      return false;
    }
    ::usleep(50);
  }
  return false;
}

void stop(pid_t pid) {
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
}

long statusKiB(pid_t pid, const std::string& field) {
  FILE* status = std::fopen(("/proc/" + std::to_string(pid) + "/status").c_str(), "r");
  if (status == nullptr) {
    return -1;
  }
  const std::string format = field + ": %ld kB";
  char line[256];
  long kib = -1;
  while (std::fgets(line, sizeof line, status) != nullptr) {
    if (std::sscanf(line, format.c_str(), &kib) == 1) {
      break;
    }
  }
  std::fclose(status);
  return kib;
}

long residentKiB(pid_t pid) {
  return statusKiB(pid, "VmRSS");
}

int rerunInsideSandbox(const char* name, const char* sourceDir, const char* buildDir) {
  if (::geteuid() != 0) {
    std::fprintf(stderr, "%s: needs root for the sandbox's namespaces\n", name);
    return 1;
  }
  ::setenv("BUILD_DIR", buildDir, 1);
  const std::string sandbox = std::string(sourceDir) + "/scripts/sandbox";
  char self[4096];
  const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (length <= 0) {
    return 1;
  }
  self[length] = '\0';
  std::vector<const char*> args{sandbox.c_str(), "--no-agent", "--no-build", "--", self,
                                "--inside",      nullptr};
  ::execv(args[0], const_cast<char* const*>(args.data()));
  std::fprintf(stderr, "%s: cannot run the sandbox: %s\n", name, std::strerror(errno));
  return 1;
}

} // namespace bench
