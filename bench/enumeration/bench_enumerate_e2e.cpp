// enumerate_1m_e2e: a tree of 1,000,000 entries enumerated through the agent and decoded by
// agentctl (wall time of `agentctl task KLVPrivilegedAccessEnumeratorTask`, its JSON written to
// a file), against `find ROOT -printf '%p %y %m %s\n'` into a file over the same tree, in
// alternating rounds. enumerate_1m_agent_peak_rss_kib: the agent's peak resident memory
// against the 1 GiB it must stay under; enumerate_1m_agent_rss_after_kib: its resident memory
// once the replies are sent, against 32 MiB. Runs inside scripts/sandbox, which installs the
// agent; the tree is made once per run in the sandbox's memory file system.

#include "AgentProcess.h"
#include "FileTree.h"
#include "RawRoundTrip.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using namespace bench;

constexpr int kFolders = 1000;
constexpr int kFilesPerFolder = 999; // with the folders: 1,000,000 entries
constexpr int kRounds = 3;
constexpr const char* kTree = "/run/bench-enumerate-1m";

// Runs `argv` (searched on PATH) with its standard output in `output`; the wall time in
// seconds, or -1 when it fails.
double secondsToRun(const std::vector<std::string>& argv, const char* output) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output, O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  std::vector<char*> arguments;
  for (const auto& argument : argv) {
    arguments.push_back(const_cast<char*>(argument.c_str()));
  }
  arguments.push_back(nullptr);
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = -1;
  int status = -1;
  if (::posix_spawnp(&pid, arguments[0], &actions, nullptr, arguments.data(), environ) == 0) {
    ::waitpid(pid, &status, 0);
  }
  posix_spawn_file_actions_destroy(&actions);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "bench_enumerate_e2e: %s failed\n", argv[0].c_str());
    return -1;
  }
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

int measureInside() {
  if (!makeFlatTree(kTree, kFolders, kFilesPerFolder)) {
    std::fprintf(stderr, "bench_enumerate_e2e: cannot make the tree at %s\n", kTree);
    return 1;
  }
  const pid_t agent = spawnAgent();
  if (agent < 0 || !waitUntilAccepting(agent, kAgentSocket)) {
    std::fprintf(stderr, "bench_enumerate_e2e: the agent did not start\n");
    return 1;
  }
  const std::vector<std::string> task = {"agentctl", "task", "KLVPrivilegedAccessEnumeratorTask",
                                         std::string("{\"rootURL\":\"") + kTree +
                                             "\",\"shouldCollectDirectory\":true}"};
  const std::vector<std::string> find = {"find", kTree, "-printf", "%p %y %m %s\n"};
  std::vector<double> ours, peer;
  for (int round = 0; round < kRounds; ++round) {
    ours.push_back(secondsToRun(task, "/run/bench-enumerate-1m.json"));
    peer.push_back(secondsToRun(find, "/run/bench-enumerate-1m.txt"));
    if (ours.back() < 0 || peer.back() < 0) {
      stop(agent);
      return 1;
    }
  }
  ::sleep(1);
  const long peak = statusKiB(agent, "VmHWM");
  const long after = statusKiB(agent, "VmRSS");
  stop(agent);
  const double o = median(ours);
  const double p = median(peer);
  std::printf("enumerate_1m_e2e: ours=%.2f peer=%.2f ratio=%.2f\n", o, p, o / p);
  std::printf("enumerate_1m_agent_peak_rss_kib: ours=%ld peer=%d ratio=%.2f\n", peak, 1 << 20,
              peak / static_cast<double>(1 << 20));
  std::printf("enumerate_1m_agent_rss_after_kib: ours=%ld peer=%d ratio=%.2f\n", after, 32 << 10,
              after / static_cast<double>(32 << 10));
  return 0;
}

} // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--inside") == 0) {
    return measureInside();
  }
  // Re-run inside the sandbox, without a running agent: the measurement starts its own.
  return rerunInsideSandbox("bench_enumerate_e2e", AGENT_SOURCE_DIR, AGENT_BUILD_DIR);
}
