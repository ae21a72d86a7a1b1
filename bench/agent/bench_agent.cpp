// agent_startup_ms: the time from starting the agent's executable to its service socket
// accepting a connection, against a bare program that only binds and listens on a socket (the
// cost of starting any process and opening its socket). The agent runs only from its install
// location, so the measurement runs inside scripts/sandbox, which installs it there.
// agent_idle_rss_kib: the resident memory of the idle agent against that bare program.
// agent_health_rtt: the median health-check round trip of agentctl's engine (one connection,
// in-process loop) against the raw socketpair round trip of the same size.

#include "RawRoundTrip.h"

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

// Starts `argv` with an empty environment and its output discarded; the pid, or -1.
pid_t spawnQuiet(const std::vector<std::string>& argv) {
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
  const int spawned = ::posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environment);
  posix_spawn_file_actions_destroy(&actions);
  return spawned == 0 ? pid : -1;
}

// Waits until `socketPath` accepts; false when `pid` ends first or 10 s pass.
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

// Milliseconds from spawning `argv` to `socketPath` accepting; negative on failure. The
// process is killed and reaped afterwards.
double startupMilliseconds(const std::vector<std::string>& argv, const std::string& socketPath) {
  ::unlink(socketPath.c_str());
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = spawnQuiet(argv);
  if (pid < 0) {
    return -1;
  }
  double elapsed = -1;
  if (waitUntilAccepting(pid, socketPath)) {
    elapsed =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  }
  stop(pid);
  return elapsed;
}

// The resident set of `pid` in KiB (VmRSS), or -1.
long residentKiB(pid_t pid) {
  FILE* status = std::fopen(("/proc/" + std::to_string(pid) + "/status").c_str(), "r");
  if (status == nullptr) {
    return -1;
  }
  char line[256];
  long kib = -1;
  while (std::fgets(line, sizeof line, status) != nullptr) {
    if (std::sscanf(line, "VmRSS: %ld kB", &kib) == 1) {
      break;
    }
  }
  std::fclose(status);
  return kib;
}

// Runs "agentctl health --repeat N" (agentctl is on the sandbox's PATH) and gives its median
// round trip in microseconds, or -1.
double agentctlHealthMedian(int count) {
  int output[2];
  if (::pipe2(output, O_CLOEXEC) != 0) {
    return -1;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
  const std::string repeat = std::to_string(count);
  char* args[] = {const_cast<char*>("agentctl"), const_cast<char*>("health"),
                  const_cast<char*>("--repeat"), const_cast<char*>(repeat.c_str()), nullptr};
  pid_t pid = 0;
  const int spawned = ::posix_spawnp(&pid, "agentctl", &actions, nullptr, args, environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(output[1]);
  std::string text;
  char buffer[256];
  ssize_t got = 0;
  while (spawned == 0 && (got = ::read(output[0], buffer, sizeof buffer)) > 0) {
    text.append(buffer, static_cast<size_t>(got));
  }
  ::close(output[0]);
  int status = 0;
  if (spawned != 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
      WEXITSTATUS(status) != 0) {
    return -1;
  }
  double median = -1;
  std::sscanf(text.c_str(), "median_us=%lf", &median);
  return median;
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

  // An idle agent and an idle bare listener, side by side.
  const pid_t agent = spawnQuiet({kAgentPath});
  const pid_t bare = spawnQuiet({self, "--listen", kPeerSocket});
  if (agent < 0 || bare < 0 || !waitUntilAccepting(agent, kAgentSocket) ||
      !waitUntilAccepting(bare, kPeerSocket)) {
    std::fprintf(stderr, "bench_agent: a process did not start listening\n");
    return 1;
  }
  ::usleep(300'000);
  const long agentKiB = residentKiB(agent);
  const long bareKiB = residentKiB(bare);
  std::printf("agent_idle_rss_kib: ours=%ld peer=%ld ratio=%.2f\n", agentKiB, bareKiB,
              static_cast<double>(agentKiB) / static_cast<double>(bareKiB));

  const double health = agentctlHealthMedian(2000);
  const double raw = bench::measureRaw(1, 2000).p50Microseconds;
  stop(bare);
  stop(agent);
  if (health < 0) {
    std::fprintf(stderr, "bench_agent: agentctl's health checks failed\n");
    return 1;
  }
  std::printf("agent_health_rtt: ours=%.1f peer=%.1f ratio=%.2f\n", health, raw, health / raw);
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
