// Validates a signed 64 MiB executable (a real small ELF padded with random bytes before
// signing) and compares the time with `sha256sum` hashing the same file, best of three each.
// Prints: signature_validate_64m: ours=<ms> peer=<ms> ratio=<ours/peer>
#include "TestPKI.h"
#include "platform/security/CodeSigner.h"
#include "platform/security/StaticCode.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <random>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace platform::security;
using Clock = std::chrono::steady_clock;

namespace {

constexpr size_t kFileSize = 64 * 1024 * 1024;
constexpr int kRounds = 3;

const char* const kRequirement =
    "identifier \"com.quillby.Lumora5\" and info [CFBundleShortVersionString] >= \"0.0.1\" and "
    "anchor apple generic and certificate leaf[subject.OU] = \"Q4W7ZK2M9T\"";

void makeProgram(const std::string& path) {
  std::filesystem::copy_file("/proc/self/exe", path);
  std::vector<char> padding(kFileSize - std::filesystem::file_size(path));
  std::mt19937_64 random(42);
  for (size_t index = 0; index + 8 <= padding.size(); index += 8) {
    uint64_t value = random();
    std::memcpy(padding.data() + index, &value, 8);
  }
  FILE* file = std::fopen(path.c_str(), "ab");
  std::fwrite(padding.data(), 1, padding.size(), file);
  std::fclose(file);
}

double millisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double validateOnce(const std::string& path, const std::string& anchors) {
  auto start = Clock::now();
  std::shared_ptr<StaticCode> code;
  Requirement requirement;
  ValidationOptions options;
  options.anchorsDirectory = anchors;
  options.useDigestCache = false;
  if (!StaticCode::createWithPath(path, code) || !Requirement::compile(kRequirement, requirement) ||
      !code->checkValidity(options, &requirement)) {
    std::fprintf(stderr, "validation failed\n");
    std::exit(1);
  }
  return millisecondsSince(start);
}

double sha256sumOnce(const std::string& path) {
  auto start = Clock::now();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  std::string tool = "sha256sum";
  std::string file = path;
  char* arguments[] = {tool.data(), file.data(), nullptr};
  pid_t pid = 0;
  if (posix_spawnp(&pid, "sha256sum", &actions, nullptr, arguments, environ) != 0) {
    std::fprintf(stderr, "cannot run sha256sum\n");
    std::exit(1);
  }
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  waitpid(pid, &status, 0);
  return millisecondsSince(start);
}

} // namespace

int main() {
  testing::TemporaryDirectory directory;
  testing::TestPKI pki(directory.path());
  auto root = pki.makeRoot("root", {"Bench Root", "", "Bench", "GB"});
  auto leaf = pki.makeLeaf("leaf", {"Bench Leaf", "Q4W7ZK2M9T", "Bench", "GB"}, root);
  std::string anchors = directory.file("anchors");
  std::filesystem::create_directory(anchors);
  std::filesystem::copy_file(root.certificatePath, anchors + "/root.pem");

  std::string program = directory.file("program");
  makeProgram(program);
  platform::NSError error;
  if (!signFile(program, leaf.signingParameters("com.quillby.Lumora5"), &error)) {
    std::fprintf(stderr, "signing failed: %s\n", error.localizedDescription().c_str());
    return 1;
  }
  validateOnce(program, anchors);
  sha256sumOnce(program); // both start with the file in the page cache
  double ours = 1e300;
  double peer = 1e300;
  for (int round = 0; round < kRounds; ++round) {
    ours = std::min(ours, validateOnce(program, anchors));
    peer = std::min(peer, sha256sumOnce(program));
  }
  std::printf("signature_validate_64m: ours=%.1f peer=%.1f ratio=%.2f\n", ours, peer, ours / peer);
  return 0;
}
