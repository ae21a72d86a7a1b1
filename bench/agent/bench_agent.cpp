// agent_startup_ms: the time from starting the agent's executable to its service socket
// accepting a connection, against a bare program that only binds and listens on a socket (the
// cost of starting any process and opening its socket). The agent runs only from its install
// location, so the measurement runs inside scripts/sandbox, which installs it there.
// agent_idle_rss_kib: the resident memory of the idle agent against that bare program.
// agent_health_rtt: the median health-check round trip of agentctl's engine (one connection,
// in-process loop) against the raw socketpair round trip of the same size between two threads,
// in alternating rounds;
// agent_health_rtt_vs_processes against the same round trip between two processes, as agentctl
// and the agent are.

#include "AgentProcess.h"
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

using namespace bench;

constexpr const char* kPeerSocket = "/run/bench-agent-peer.sock";
constexpr int kRuns = 31;

sockaddr_un socketAddress(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
  return address;
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

// Runs "agentctl health --repeat N" (agentctl is on the sandbox's PATH) and gives its median
// round trip in microseconds, or -1.
double agentctlHealthMedian(int count) {
  int output = -1;
  const pid_t pid = spawnReading({"agentctl", "health", "--repeat", std::to_string(count)}, output);
  if (pid < 0) {
    return -1;
  }
  const std::string text = readToEnd(output);
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    return -1;
  }
  double median = -1;
  std::sscanf(text.c_str(), "median_us=%lf", &median);
  return median;
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
  const pid_t agent = spawnAgent();
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

  // Rounds alternate between the sides and each side's median round counts, so that a phase of
  // the machine (the raw peer's threads land on one processor or on two, 10 or 29 us) does not
  // fall on one side only.
  constexpr int kRounds = 5;
  std::vector<double> healthRounds, rawRounds, rawProcessesRounds;
  for (int round = 0; round < kRounds; ++round) {
    healthRounds.push_back(agentctlHealthMedian(1000));
    rawRounds.push_back(bench::measureRaw(1, 1000).p50Microseconds);
    rawProcessesRounds.push_back(bench::measureRawBetweenProcesses(1000).p50Microseconds);
  }
  stop(bare);
  stop(agent);
  if (*std::min_element(healthRounds.begin(), healthRounds.end()) < 0) {
    std::fprintf(stderr, "bench_agent: agentctl's health checks failed\n");
    return 1;
  }
  const double health = median(healthRounds);
  const double raw = median(rawRounds);
  const double rawProcesses = median(rawProcessesRounds);
  std::printf("agent_health_rtt: ours=%.1f peer=%.1f ratio=%.2f\n", health, raw, health / raw);
  std::printf("agent_health_rtt_vs_processes: ours=%.1f peer=%.1f ratio=%.2f\n", health,
              rawProcesses, health / rawProcesses);
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
  // Re-run inside the sandbox, without a running agent: each measurement starts its own.
  return rerunInsideSandbox("bench_agent", AGENT_SOURCE_DIR, AGENT_BUILD_DIR);
}
