// The agent under load and under abuse at once. 64 signed clients (agentctl, one connection
// each) make 2,000 health checks each, first against a quiet agent, then while four hostile
// peers run as nobody, each in a loop: 20,000 calls whose replies they never read, frames
// declared at 64 MiB, crowds of idle connections, and garbage. Prints:
//   health_under_abuse_p99: ours=<p99 in us under abuse> peer=<p99 in us, quiet> ratio=R
//   load_64x2000_failures: ours=<failed checks under abuse> peer=<failed checks, quiet>
//   load_peak_rss_kib: ours=<agent's peak resident KiB under abuse> peer=<peak, quiet> ratio=R
// Runs inside scripts/sandbox and needs root; it re-runs itself there.
#include "AgentProcess.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <vector>

namespace {

using namespace bench;

constexpr int kClients = 64;
constexpr int kChecksPerClient = 2000;
constexpr const char* kAgentLog = "/run/bench-load-agent.log";

struct Round {
  std::vector<double> microseconds; // every check's round trip
  long failures = 0;
  long peakKiB = 0;
};

// Adds one client's output ("median_us=.. p99_us=.. failures=F", then one round trip per
// line) to `round`; a client that printed nothing failed every check.
void addClientOutput(const std::string& text, Round& round) {
  std::istringstream lines(text);
  std::string summary;
  long failures = kChecksPerClient;
  if (std::getline(lines, summary)) {
    if (const auto at = summary.find("failures="); at != std::string::npos) {
      failures = std::stol(summary.substr(at + 9));
    }
  }
  round.failures += failures;
  for (std::string line; std::getline(lines, line);) {
    round.microseconds.push_back(std::stod(line));
  }
}

Round measure(pid_t agent, bool abused) {
  Round round;
  pid_t hostile = -1;
  if (abused) {
    hostile = spawnQuiet({"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                          ABUSE_ATTACKS, "all", kAgentSocket, "600"});
    std::this_thread::sleep_for(std::chrono::milliseconds(500)); // let the attacks get going
  }
  std::atomic<bool> sampling{true};
  std::thread sampler([&] {
    while (sampling) {
      round.peakKiB = std::max(round.peakKiB, residentKiB(agent));
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
  std::vector<std::pair<pid_t, int>> clients;
  for (int client = 0; client < kClients; ++client) {
    int output = -1;
    const pid_t pid = spawnReading(
        {"agentctl", "health", "--repeat", std::to_string(kChecksPerClient), "--samples"}, output);
    if (pid < 0) {
      round.failures += kChecksPerClient;
      continue;
    }
    clients.emplace_back(pid, output);
  }
  for (auto [pid, output] : clients) {
    addClientOutput(readToEnd(output), round);
    ::waitpid(pid, nullptr, 0);
  }
  sampling = false;
  sampler.join();
  if (hostile > 0) {
    stop(hostile);
  }
  return round;
}

double percentile99(std::vector<double> samples) {
  if (samples.empty()) {
    return 0;
  }
  std::sort(samples.begin(), samples.end());
  return samples[std::min(samples.size() - 1, samples.size() * 99 / 100)];
}

int measureInside() {
  const pid_t agent = spawnAgent(kAgentLog);
  if (agent < 0 || !waitUntilAccepting(agent, kAgentSocket)) {
    std::fprintf(stderr, "bench_load: the agent did not start listening\n");
    return 1;
  }
  // The agent hashes a client executable once and then remembers the digest, but only for a
  // file that has not changed for two seconds; the sandbox has just installed agentctl. Wait
  // that out and warm the cache with one check, as on a machine where the client was installed
  // long before.
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  int warmOutput = -1;
  const pid_t warm = spawnReading({"agentctl", "health"}, warmOutput);
  if (warm > 0) {
    readToEnd(warmOutput);
    ::waitpid(warm, nullptr, 0);
  }
  const Round quiet = measure(agent, false);
  const Round abused = measure(agent, true);
  stop(agent);
  const double ours = percentile99(abused.microseconds);
  const double peer = percentile99(quiet.microseconds);
  std::printf("health_under_abuse_p99: ours=%.1f peer=%.1f ratio=%.2f\n", ours, peer,
              peer > 0 ? ours / peer : 0.0);
  std::printf("load_64x2000_failures: ours=%ld peer=%ld\n", abused.failures, quiet.failures);
  std::printf("load_peak_rss_kib: ours=%ld peer=%ld ratio=%.2f\n", abused.peakKiB, quiet.peakKiB,
              quiet.peakKiB > 0 ? static_cast<double>(abused.peakKiB) / quiet.peakKiB : 0.0);
  if (abused.failures == 0 && quiet.failures == 0) {
    return 0;
  }
  // Show why: the agent's errors, once each.
  const std::string command = std::string("grep -E 'error|fault' ") + kAgentLog +
                              " | sed 's/Connection<[^>]*>/Connection/; s/pid <[0-9]*>/pid/' |"
                              " sort | uniq -c | sort -rn | head -n 20 >&2";
  return std::system(command.c_str()) == 0 ? 1 : 1;
}

} // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--inside") == 0) {
    return measureInside();
  }
  return rerunInsideSandbox("bench_load", AGENT_SOURCE_DIR, AGENT_BUILD_DIR);
}
