// The enumeration task over a generated tree of 100,000 entries, its archived result included,
// against `find ROOT -printf '%p %y %m %s\n'` (which stats every entry, as the task must) on the
// same tree in the same run. Both sides are timed in
// CPU time (user + system, ours from the thread, find's from wait4), which stays meaningful on a
// machine busy with other work. A second line reports the task's peak memory per reported entry
// against the archive's size per entry: memory must stay linear in the result.
#include "FileTree.h"
#include "RawRoundTrip.h"
#include "platform/archive/KeyedArchiver.h"
#include "tasks/TaskExecution.h"
#include "tasks/model/KLVPrivilegedAccessEnumeratorTask.h"
#include "tasks/model/TaskClasses.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kFolders = 100;
constexpr int kFilesPerFolder = 999; // with the folders: 100,000 entries
constexpr int kRounds = 5;

double milliseconds(const rusage& usage) {
  return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

double threadMillisecondsOf(const auto& work) {
  rusage before{}, after{};
  getrusage(RUSAGE_THREAD, &before);
  work();
  getrusage(RUSAGE_THREAD, &after);
  return milliseconds(after) - milliseconds(before);
}

// find's output goes to a file, as the task's archive ends up in memory: both produce the listing.
// Returns find's CPU time in milliseconds.
double runFind(const std::string& root, const std::string& output) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  // The type, mode and size: find must look up every entry, as the task does.
  std::string format = "%p %y %m %s\n";
  char* argv[] = {const_cast<char*>("/usr/bin/find"), const_cast<char*>(root.c_str()),
                  const_cast<char*>("-printf"), format.data(), nullptr};
  char* environment[] = {nullptr};
  pid_t pid = -1;
  rusage usage{};
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv, environment) == 0) {
    int status = 0;
    wait4(pid, &status, 0, &usage);
  }
  posix_spawn_file_actions_destroy(&actions);
  return milliseconds(usage);
}

size_t runTask(const std::string& root) {
  tasks::KLVPrivilegedAccessEnumeratorTask task(platform::URL::fileURLWithPath(root), true,
                                                UINT64_MAX);
  auto result = task.perform();
  platform::NSError error;
  auto archive = platform::archive::archivedDataWithRootObject(result, true, &error);
  if (!archive) {
    std::fprintf(stderr, "archiving failed: %s\n", error.description().c_str());
    std::exit(1);
  }
  return archive->size();
}

long peakResidentKiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

} // namespace

// With a folder argument, the tree is made there (if missing) and kept, for profiling.
int main(int argc, char** argv) {
  tasks::registerTaskClasses();
  tasks::registerTaskExecutors();
  char directoryTemplate[] = "/tmp/bench_enumerate.XXXXXX";
  const bool keepTree = argc > 1;
  if (!keepTree && mkdtemp(directoryTemplate) == nullptr) {
    std::perror("mkdtemp");
    return 1;
  }
  const std::string directory = keepTree ? argv[1] : directoryTemplate;
  const std::string root = directory + "/tree";
  if (!std::filesystem::exists(root)) {
    mkdir(directory.c_str(), 0755);
    if (!bench::makeFlatTree(root, kFolders, kFilesPerFolder)) {
      std::fprintf(stderr, "bench_enumerate: cannot make the tree at %s\n", root.c_str());
      return 1;
    }
  }

  const long residentBefore = peakResidentKiB();
  size_t archiveBytes = runTask(root); // warm the caches, measure memory once
  const long residentGrowth = peakResidentKiB() - residentBefore;
  runFind(root, directory + "/find.txt");

  std::vector<double> ours, peer;
  for (int round = 0; round < kRounds; ++round) {
    ours.push_back(threadMillisecondsOf([&] { archiveBytes = runTask(root); }));
    peer.push_back(runFind(root, directory + "/find.txt"));
  }
  const double oursMs = bench::median(ours);
  const double peerMs = bench::median(peer);
  const double entries = kFolders * (kFilesPerFolder + 1.0);
  std::printf("enumerate_vs_find_stat: ours=%.1f peer=%.1f ratio=%.2f\n", oursMs, peerMs,
              oursMs / peerMs);
  std::printf("enumerate_peak_bytes_per_entry: ours=%.0f archive=%.0f ratio=%.2f\n",
              residentGrowth * 1024.0 / entries, archiveBytes / entries,
              residentGrowth * 1024.0 / static_cast<double>(archiveBytes));
  if (!keepTree) {
    std::filesystem::remove_all(directory);
  }
  return 0;
}
