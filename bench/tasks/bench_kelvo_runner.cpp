// Measures the task library's runner against a bare posix_spawn plus waitpid of the same tool
// in the same run: what the pipes, the pidfd, the time limit and the freeze watchdog cost.
// Both figures are milliseconds for 1,000 runs.
#include "tasks/processes/KLVTaskRunnerService.h"

#include <chrono>
#include <cstdio>
#include <functional>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace {

constexpr int kRuns = 1000;
constexpr const char* kTool = "/bin/true";

double millisecondsOf(const std::function<void()>& work) {
  const auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
      .count();
}

int spawnAndWait() {
  char* argv[] = {const_cast<char*>(kTool), nullptr};
  pid_t pid = -1;
  int status = -1;
  if (posix_spawn(&pid, kTool, nullptr, nullptr, argv, environ) == 0) {
    waitpid(pid, &status, 0);
  }
  return status;
}

} // namespace

int main() {
  tasks::KLVTaskRunnerService runner;
  int failures = 0;
  // One warm-up round each, so that neither side pays for the first page-ins.
  runner.executeTaskWithExecutablePath(kTool, {}, 5, nullptr);
  spawnAndWait();

  // Interleaved halves, so that a change in machine load affects both sides alike.
  double ours = 0;
  double peer = 0;
  for (int half = 0; half < 2; ++half) {
    ours += millisecondsOf([&] {
      for (int run = 0; run < kRuns / 2; ++run) {
        auto output = runner.executeTaskWithExecutablePath(kTool, {}, 5, nullptr);
        failures += !output || !output->isExitStatusSuccess();
      }
    });
    peer += millisecondsOf([&] {
      for (int run = 0; run < kRuns / 2; ++run) {
        failures += spawnAndWait() != 0;
      }
    });
  }
  if (failures != 0) {
    std::fprintf(stderr, "bench_kelvo_runner: %d runs failed\n", failures);
    return 1;
  }
  std::printf("kelvo_runner_vs_spawn: ours=%.1f peer=%.1f ratio=%.2f\n", ours, peer,
              ours / peer);
  return 0;
}
