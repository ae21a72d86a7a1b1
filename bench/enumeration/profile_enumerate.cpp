// Stage times of one enumeration of a tree, from the walk in the agent to the JSON that
// agentctl prints, all in this process: the walk with its records, the archive, the reply's
// encoding (the value as Base64 in JSON, that JSON as Base64 in the envelope), the envelope's
// parse, the result's decoding into its JSON line. For profiling (perf record works here, unlike in
// the sandbox); scripts/bench does not run it.
//
// Usage: profile_enumerate FOLDER [FOLDERS]  (the tree is made under FOLDER once and kept)
#include "ArchiveRendering.h"
#include "FileTree.h"
#include "ResultPrinting.h"
#include "platform/archive/BinaryPropertyList.h"
#include "platform/archive/BinaryPropertyListValidator.h"
#include "platform/archive/KeyedArchiver.h"
#include "platform/foundation/Base64.h"
#include "platform/foundation/JSON.h"
#include "tasks/TaskExecution.h"
#include "tasks/model/KLVPrivilegedAccessEnumeratorTask.h"
#include "tasks/model/TaskClasses.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>

namespace {

using Clock = std::chrono::steady_clock;

double threadCPUSeconds() {
  rusage usage{};
  ::getrusage(RUSAGE_THREAD, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Prints the wall and CPU time of its scope.
struct Stage {
  const char* name;
  Clock::time_point start = Clock::now();
  double cpuStart = threadCPUSeconds();
  ~Stage() {
    std::printf("%-16s %.3f s (cpu %.3f s)\n", name,
                std::chrono::duration<double>(Clock::now() - start).count(),
                threadCPUSeconds() - cpuStart);
  }
};

std::string_view textOf(const platform::Bytes& bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

} // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: profile_enumerate FOLDER [FOLDERS]\n");
    return 2;
  }
  tasks::registerTaskClasses();
  tasks::registerTaskExecutors();
  const int folders = argc > 2 ? std::atoi(argv[2]) : 200;
  const std::string root = std::string(argv[1]) + "/tree";
  if (!std::filesystem::exists(root)) {
    ::mkdir(argv[1], 0755);
    if (!bench::makeFlatTree(root, folders, 999)) {
      std::fprintf(stderr, "profile_enumerate: cannot make the tree at %s\n", root.c_str());
      return 1;
    }
  }

  tasks::ResultPtr result;
  {
    Stage stage{"walk"};
    tasks::KLVPrivilegedAccessEnumeratorTask task(platform::URL::fileURLWithPath(root), true,
                                                  UINT64_MAX);
    result = task.perform();
  }
  std::optional<platform::Bytes> archive;
  {
    Stage stage{"archive"};
    platform::NSError error;
    archive = platform::archive::archivedDataWithRootObject(result, true, &error);
    if (!archive) {
      std::fprintf(stderr, "archiving failed: %s\n", error.description().c_str());
      return 1;
    }
  }
  {
    Stage stage{"free-result"};
    result.reset();
  }
  platform::Bytes envelope;
  {
    Stage stage{"encode-reply"};
    const platform::json::Value value = {{"value", platform::base64Encode(*archive)}};
    const platform::Bytes payload = platform::json::writeBytes(value);
    envelope = platform::json::writeBytes(
        {{"binaryPayload", platform::base64Encode(payload)}, {"flags", 1}});
  }
  std::printf("archive %zu bytes, envelope %zu bytes\n", archive->size(), envelope.size());
  archive.reset();
  platform::Bytes received;
  {
    Stage stage{"decode-reply"};
    const auto outer = platform::json::parse(textOf(envelope));
    const auto payload =
        platform::base64Decode(outer["binaryPayload"].get_ref<const std::string&>());
    const auto inner = platform::json::parse(textOf(*payload));
    received = *platform::base64Decode(inner["value"].get_ref<const std::string&>());
  }
  {
    Stage stage{"plist-validate"};
    if (auto fault = platform::archive::validateBinaryPropertyList(
            received, agentctl::receivedResultLimits())) {
      std::fprintf(stderr, "invalid property list: %s\n", fault->c_str());
      return 1;
    }
  }
  {
    Stage stage{"plist-read"};
    std::string fault;
    auto list = platform::archive::BinaryPropertyList::read(
        received, agentctl::receivedResultLimits(), fault);
    if (!list) {
      std::fprintf(stderr, "reading failed: %s\n", fault.c_str());
      return 1;
    }
  }
  std::optional<agentctl::DecodedResult> decoded;
  // PROFILE_REPEAT=N decodes the result N times, so that a profile of the run is mostly that.
  const int repeats = std::getenv("PROFILE_REPEAT") ? std::atoi(std::getenv("PROFILE_REPEAT")) : 1;
  for (int repeat = 0; repeat < repeats; ++repeat) {
    Stage stage{"decode-result"};
    platform::NSError error;
    decoded = agentctl::decodeResult(received, {}, &error);
    if (!decoded) {
      std::fprintf(stderr, "decoding failed: %s\n", error.description().c_str());
      return 1;
    }
  }
  std::printf("json %zu bytes\n", decoded->text.size());
  return 0;
}
