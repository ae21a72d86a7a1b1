// Measures the utilities against the system's own tools on the same input in the same run:
// the byte sizer against du, the forced removal against rm -rf, the task runner against a
// bare posix_spawn plus waitpid.
#include "utilities/FileManagerAdditions.h"
#include "utilities/LRByteSizer.h"
#include "utilities/LRTaskRunner.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kFolders = 100;
constexpr int kFilesPerFolder = 1000; // 100,000 files
constexpr int kTaskRuns = 1000;

double millisecondsOf(const std::function<void()>& work) {
  auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
      .count();
}

// Runs a tool with stdout to /dev/null and returns its exit status.
int spawnAndWait(const std::vector<std::string>& argv, const char* outputPath = "/dev/null") {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outputPath,
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::vector<char*> args;
  for (const auto& argument : argv) {
    args.push_back(const_cast<char*>(argument.c_str()));
  }
  args.push_back(nullptr);
  char* environment[] = {nullptr};
  pid_t pid = -1;
  int status = -1;
  if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environment) == 0) {
    waitpid(pid, &status, 0);
  }
  posix_spawn_file_actions_destroy(&actions);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Small files of varied length in kFolders folders.
void makeTree(const std::string& root) {
  mkdir(root.c_str(), 0755);
  std::string contents(3000, 'x');
  for (int folder = 0; folder < kFolders; ++folder) {
    std::string directory = root + "/d" + std::to_string(folder);
    mkdir(directory.c_str(), 0755);
    int directoryFd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (int file = 0; file < kFilesPerFolder; ++file) {
      std::string name = "f" + std::to_string(file);
      int fd = openat(directoryFd, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
      if (fd >= 0) {
        (void)!write(fd, contents.data(), (file * 37) % contents.size());
        close(fd);
      }
    }
    close(directoryFd);
  }
}

uint64_t duBytes(const std::string& path) {
  const std::string output = path + ".du";
  spawnAndWait({"/usr/bin/du", "-s", "-B512", path}, output.c_str());
  unsigned long long blocks = 0;
  if (FILE* file = std::fopen(output.c_str(), "r")) {
    if (std::fscanf(file, "%llu", &blocks) != 1) {
      blocks = 0;
    }
    std::fclose(file);
  }
  unlink(output.c_str());
  return blocks * 512;
}

void report(const char* name, double ours, double peer) {
  std::printf("%s: ours=%.1f peer=%.1f ratio=%.2f\n", name, ours, peer, ours / peer);
  std::fflush(stdout);
}

// The trees live in memory (/dev/shm) when it has room: on a shared disk, the timing of
// 100,000 unlinks depends far more on what other processes write than on the code measured.
// BENCH_TMP chooses another place.
std::string benchFolder() {
  std::string path = "/tmp";
  struct statvfs shm;
  if (const char* base = std::getenv("BENCH_TMP")) {
    path = base;
  } else if (statvfs("/dev/shm", &shm) == 0 &&
             static_cast<uint64_t>(shm.f_bavail) * shm.f_frsize > (uint64_t(1) << 30)) {
    path = "/dev/shm";
  }
  path += "/bench-utilities-" + std::to_string(getpid());
  mkdir(path.c_str(), 0755);
  return path;
}

} // namespace

// With arguments, only the benchmarks whose names contain one of them run.
bool selected(int argc, char** argv, const char* name) {
  if (argc < 2) {
    return true;
  }
  for (int index = 1; index < argc; ++index) {
    if (std::string(name).find(argv[index]) != std::string::npos) {
      return true;
    }
  }
  return false;
}

int main(int argc, char** argv) {
  const std::string folder = benchFolder();

  if (selected(argc, argv, "byte_sizer_vs_du")) {
    const std::string tree = folder + "/sized";
    makeTree(tree);
    uint64_t ours = 0, peer = 0;
    // Warm both walks once, then keep the best of three runs each.
    ours = utilities::LRByteSizer::byteSizeAtPath(tree);
    peer = duBytes(tree);
    double oursMs = 1e18, peerMs = 1e18;
    for (int round = 0; round < 3; ++round) {
      oursMs = std::min(
          oursMs, millisecondsOf([&] { ours = utilities::LRByteSizer::byteSizeAtPath(tree); }));
      peerMs = std::min(peerMs, millisecondsOf([&] { peer = duBytes(tree); }));
    }
    if (ours != peer) {
      std::fprintf(stderr, "byte sizer total %llu differs from du %llu\n",
                   static_cast<unsigned long long>(ours), static_cast<unsigned long long>(peer));
    }
    report("byte_sizer_vs_du", oursMs, peerMs);
    spawnAndWait({"/bin/rm", "-rf", tree});
  }

  if (selected(argc, argv, "remove_tree_vs_rm")) {
    const std::string oursTree = folder + "/removed-by-us";
    const std::string peerTree = folder + "/removed-by-rm";
    makeTree(oursTree);
    makeTree(peerTree);
    double peerMs = millisecondsOf([&] { spawnAndWait({"/bin/rm", "-rf", peerTree}); });
    double oursMs =
        millisecondsOf([&] { utilities::removeFileAndHandleLockAtPath(oursTree, nullptr); });
    struct stat info;
    if (stat(oursTree.c_str(), &info) == 0) {
      std::fprintf(stderr, "the tree removed by us is still there\n");
    }
    report("remove_tree_vs_rm", oursMs, peerMs);
  }

  if (selected(argc, argv, "task_runner_vs_spawn")) {
    utilities::LRTaskRunner runner;
    const std::vector<std::string> arguments{"hello"};
    // Alternating rounds, so that both sides see the same machine (the removal measured just
    // before leaves the file system busy writing back for a while).
    constexpr int kRounds = 10;
    double oursMs = 0;
    double peerMs = 0;
    for (int round = 0; round < kRounds; ++round) {
      oursMs += millisecondsOf([&] {
        for (int run = 0; run < kTaskRuns / kRounds; ++run) {
          runner.launchTaskAndGetOutput("/bin/echo", arguments);
        }
      });
      peerMs += millisecondsOf([&] {
        for (int run = 0; run < kTaskRuns / kRounds; ++run) {
          spawnAndWait({"/bin/echo", "hello"});
        }
      });
    }
    report("task_runner_vs_spawn", oursMs, peerMs);
  }

  spawnAndWait({"/bin/rm", "-rf", folder});
  return 0;
}
