// agent_startup_ms: the time from starting the agent's executable to its service socket
// accepting a connection, against a bare program that only binds and listens on a socket (the
// cost of starting any process and opening its socket). The agent runs only from its install
// location, so the measurement runs inside scripts/sandbox, which installs it there.

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr const char* kAgentPath = "/Library/PrivilegedHelperTools/com.quillby.Lumora5.Agent";
constexpr const char* kAgentSocket = "/var/run/com.quillby.Lumora5.Agent";
constexpr const char* kPeerSocket = "/run/bench-agent-peer.sock";
constexpr int kRuns = 31;

sockaddr_un socketAddress(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
  return address;
}

bool accepts(const std::string& path) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    return false;
  }
  sockaddr_un address = socketAddress(path);
  const bool connected =
      ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return connected;
}

// The peer: binds and listens at `path`, then waits to be killed.
[[noreturn]] void listenForever(const char* path) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address = socketAddress(path);
  ::unlink(path);
  if (fd < 0 || ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(fd, 16) != 0) {
    _exit(1);
  }
  for (;;) {
    ::pause();
  }
}

// Milliseconds from spawning `argv` to `socketPath` accepting; negative on failure. The
// process is killed and reaped afterwards.
double startupMilliseconds(const std::vector<std::string>& argv, const std::string& socketPath) {
  ::unlink(socketPath.c_str());
  std::vector<char*> args;
  for (const std::string& argument : argv) {
    args.push_back(const_cast<char*>(argument.c_str()));
  }
  args.push_back(nullptr);
  char* environment[] = {nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const auto start = std::chrono::steady_clock::now();
  const int spawned = ::posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environment);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    return -1;
  }
  double elapsed = -1;
  const auto deadline = start + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < deadline) {
    if (accepts(socketPath)) {
      elapsed = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                    .count();
      break;
    }
    int status = 0;
    if (::waitpid(pid, &status, WNOHANG) == pid) {
      return -1; // ended without listening
    }
    ::usleep(50);
  }
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
  return elapsed;
}

double median(std::vector<double> samples) {
  std::sort(samples.begin(), samples.end());
  return samples[samples.size() / 2];
}

int measureInside(const char* self) {
  std::vector<double> ours;
  std::vector<double> peer;
  for (int run = 0; run < kRuns; ++run) {
    const double agent = startupMilliseconds({kAgentPath}, kAgentSocket);
    const double bare = startupMilliseconds({self, "--listen", kPeerSocket}, kPeerSocket);
    if (agent < 0 || bare < 0) {
      std::fprintf(stderr, "bench_agent: a process did not start listening\n");
      return 1;
    }
    ours.push_back(agent);
    peer.push_back(bare);
  }
  const double o = median(ours);
  const double p = median(peer);
  std::printf("agent_startup_ms: ours=%.3f peer=%.3f ratio=%.2f\n", o, p, o / p);
  return 0;
}

} // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--listen") == 0) {
    listenForever(argv[2]);
  }
  if (argc == 2 && std::strcmp(argv[1], "--inside") == 0) {
    return measureInside(argv[0]);
  }
  if (::geteuid() != 0) {
    std::fprintf(stderr, "bench_agent: needs root for the sandbox's namespaces\n");
    return 1;
  }
  // Re-run inside the sandbox, without a running agent: each measurement starts its own.
  ::setenv("BUILD_DIR", AGENT_BUILD_DIR, 1);
  const std::string sandbox = std::string(AGENT_SOURCE_DIR) + "/scripts/sandbox";
  char self[4096];
  const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (length <= 0) {
    return 1;
  }
  self[length] = '\0';
  std::vector<const char*> args{sandbox.c_str(), "--no-agent", "--no-build", "--", self,
                                "--inside",      nullptr};
  ::execv(args[0], const_cast<char* const*>(args.data()));
  std::perror("bench_agent: cannot run the sandbox");
  return 1;
}
