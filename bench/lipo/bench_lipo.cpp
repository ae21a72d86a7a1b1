// Thinning a 512 MiB universal file (two slices) with LRLipo, against llvm-lipo -extract of the
// same slice and against cp of the whole file, all in one run; and the peak resident memory of
// the thinning, which copies slice ranges inside the kernel instead of loading the file.
#include "lipo/FatFormat.h"
#include "lipo/FileDescriptor.h"
#include "lipo/LRLipo.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <optional>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

constexpr uint64_t kFileSize = uint64_t(512) << 20;
constexpr uint64_t kSliceAlign = 14;
constexpr int kRounds = 5;

struct Measurement {
  double milliseconds = 0;
  long maxRssKiB = 0;
  bool succeeded = false;
};

double elapsedMs(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
      .count();
}

// Runs `work` in a forked child: its wall time and peak resident memory.
Measurement inChild(const std::function<bool()>& work) {
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = ::fork();
  if (child == 0) {
    ::_exit(work() ? 0 : 1);
  }
  int status = 0;
  rusage usage{};
  ::wait4(child, &status, 0, &usage);
  return {elapsedMs(start), usage.ru_maxrss, WIFEXITED(status) && WEXITSTATUS(status) == 0};
}

Measurement timed(const std::function<void()>& work) {
  const auto start = std::chrono::steady_clock::now();
  work();
  return {elapsedMs(start), 0, true};
}

Measurement spawn(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  for (const std::string& arg : argv) {
    args.push_back(const_cast<char*>(arg.c_str()));
  }
  args.push_back(nullptr);
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  if (::posix_spawn(&pid, args[0], nullptr, nullptr, args.data(), environ) != 0) {
    return {};
  }
  int status = 0;
  rusage usage{};
  ::wait4(pid, &status, 0, &usage);
  return {elapsedMs(start), usage.ru_maxrss, WIFEXITED(status) && WEXITSTATUS(status) == 0};
}

bool writeAllAt(int fd, const uint8_t* bytes, size_t length, uint64_t offset) {
  while (length > 0) {
    const ssize_t done = ::pwrite(fd, bytes, length, off_t(offset));
    if (done <= 0) {
      return false;
    }
    bytes += done;
    length -= size_t(done);
    offset += uint64_t(done);
  }
  return true;
}

// A 32-bit universal file of kFileSize bytes: x86_64 and arm64 slices that each start with a
// 64-bit Mach-O header and are filled with a non-zero pattern (so nothing is sparse).
bool makeUniversalFile(const std::string& path) {
  lipo::FileDescriptor fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0755));
  if (!fd.valid()) {
    return false;
  }
  const uint64_t alignment = uint64_t(1) << kSliceAlign;
  const uint64_t sliceSize = kFileSize / 2 - alignment;
  const uint64_t offsets[2] = {alignment, alignment + sliceSize + alignment};
  const int32_t cpuTypes[2] = {lipo::fat::kCpuTypeX86_64, lipo::fat::kCpuTypeArm64};
  const int32_t subtypes[2] = {lipo::fat::kCpuSubtypeX86_64All, lipo::fat::kCpuSubtypeArm64All};

  std::vector<uint8_t> header(8 + 2 * 20, 0);
  lipo::fat::storeBig32(header.data(), lipo::fat::kMagic32);
  lipo::fat::storeBig32(header.data() + 4, 2);
  for (int index = 0; index < 2; ++index) {
    lipo::fat::encodeRecord(
        {cpuTypes[index], subtypes[index], offsets[index], sliceSize, uint32_t(kSliceAlign)}, false,
        header.data() + 8 + index * 20);
  }
  if (!writeAllAt(fd.get(), header.data(), header.size(), 0)) {
    return false;
  }
  std::vector<uint8_t> chunk(size_t(4) << 20);
  for (size_t index = 0; index < chunk.size(); ++index) {
    chunk[index] = uint8_t(index * 131 + (index >> 12) + 1);
  }
  for (int slice = 0; slice < 2; ++slice) {
    for (uint64_t done = 0; done < sliceSize; done += chunk.size()) {
      const size_t length = size_t(std::min<uint64_t>(chunk.size(), sliceSize - done));
      if (!writeAllAt(fd.get(), chunk.data(), length, offsets[slice] + done)) {
        return false;
      }
    }
    // A minimal 64-bit Mach-O object header: magic, CPU type, subtype, file type 1, no commands.
    uint8_t machHeader[32] = {};
    const uint32_t words[4] = {0xFEEDFACF, uint32_t(cpuTypes[slice]), uint32_t(subtypes[slice]), 1};
    for (int word = 0; word < 4; ++word) {
      for (int byte = 0; byte < 4; ++byte) {
        machHeader[word * 4 + byte] = uint8_t(words[word] >> (8 * byte));
      }
    }
    if (!writeAllAt(fd.get(), machHeader, sizeof machHeader, offsets[slice])) {
      return false;
    }
  }
  return ::ftruncate(fd.get(), off_t(kFileSize)) == 0;
}

Measurement median(std::vector<Measurement> runs) {
  std::sort(runs.begin(), runs.end(), [](const Measurement& a, const Measurement& b) {
    return a.milliseconds < b.milliseconds;
  });
  Measurement middle = runs[runs.size() / 2];
  for (const Measurement& run : runs) {
    middle.maxRssKiB = std::max(middle.maxRssKiB, run.maxRssKiB);
    middle.succeeded = middle.succeeded && run.succeeded;
  }
  return middle;
}

std::optional<std::string> llvmLipo() {
  for (const char* candidate : {"/usr/lib/llvm-14/bin/llvm-lipo", "/usr/bin/llvm-lipo-14", "/usr/bin/llvm-lipo"}) {
    if (::access(candidate, X_OK) == 0) {
      return std::string(candidate);
    }
  }
  return std::nullopt;
}

// Writes back what earlier steps left dirty, so that no measurement pays for another's writes.
void settle(const std::filesystem::path& directory) {
  lipo::FileDescriptor fd(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.valid()) {
    ::syncfs(fd.get());
  }
}

void printLine(const char* name, double ours, double peer) {
  std::printf("%s: ours=%.1f peer=%.1f ratio=%.3f\n", name, ours, peer, ours / peer);
}

} // namespace

int main() {
  namespace fs = std::filesystem;
  const fs::path base = fs::temp_directory_path();
  struct statvfs space {};
  if (::statvfs(base.c_str(), &space) != 0 ||
      uint64_t(space.f_bavail) * space.f_frsize < 4 * kFileSize) {
    std::fprintf(stderr, "bench_lipo: needs 2 GiB free under %s\n", base.c_str());
    return 1;
  }
  std::string pattern = (base / "bench-lipo-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    return 1;
  }
  const fs::path directory = pattern;
  const std::string source = (directory / "Universal").string();
  const std::string work = (directory / "Work").string();
  const std::string output = (directory / "Output").string();
  int status = 0;
  if (!makeUniversalFile(source)) {
    std::fprintf(stderr, "bench_lipo: cannot create %s\n", source.c_str());
    status = 1;
  }

  std::vector<Measurement> ours, extract, copy, deletion;
  const auto lipoTool = llvmLipo();
  for (int round = 0; status == 0 && round < kRounds; ++round) {
    // Thinning rewrites its input, so each round thins a fresh copy (not timed).
    fs::copy_file(source, work, fs::copy_options::overwrite_existing);
    // A second link keeps the replaced file: its deletion is a cost of replacing in place that
    // the peers, which write a new file, do not have. It is timed separately below.
    fs::create_hard_link(work, work + ".keep");
    settle(directory);
    ours.push_back(inChild([&] {
      return lipo::LRLipo().removeUnnecessaryThinFilesFromBinaryAtPath(work, "arm64", nullptr);
    }));
    settle(directory);
    deletion.push_back(timed([&] { fs::remove(work + ".keep"); }));
    if (lipoTool) {
      settle(directory);
      extract.push_back(spawn({*lipoTool, source, "-extract", "arm64", "-output", output}));
      fs::remove(output);
    }
    settle(directory);
    copy.push_back(spawn({"/bin/cp", source, output}));
    settle(directory);
    fs::remove(output);
  }

  if (status == 0) {
    const Measurement thin = median(ours);
    if (!thin.succeeded) {
      std::fprintf(stderr, "bench_lipo: thinning failed\n");
      status = 1;
    }
    if (!extract.empty()) {
      printLine("thin_vs_llvm_lipo", thin.milliseconds, median(extract).milliseconds);
    }
    printLine("thin_vs_cp", thin.milliseconds, median(copy).milliseconds);
    std::fprintf(stderr, "bench_lipo: deleting the replaced file takes %.1f ms more\n",
                 median(deletion).milliseconds);
    std::printf("thin_peak_rss_kib: ours=%ld peer=%llu ratio=%.4f\n", thin.maxRssKiB,
                static_cast<unsigned long long>(kFileSize / 1024),
                double(thin.maxRssKiB) / double(kFileSize / 1024));
  }
  std::error_code ignored;
  fs::remove_all(directory, ignored);
  return status;
}
