#include "LipoTestSupport.h"

#include "lipo/FatFormat.h"

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace lipo::test {

TemporaryDirectory::TemporaryDirectory() {
  std::string pattern = std::filesystem::temp_directory_path().string() + "/lipo-test-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("mkdtemp failed");
  }
  path_ = pattern;
}

TemporaryDirectory::~TemporaryDirectory() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

Bytes readFile(const std::string& path) {
  std::ifstream stream(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
}

void writeFile(const std::string& path, const Bytes& bytes, mode_t mode) {
  ::unlink(path.c_str());
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  ::chmod(path.c_str(), mode);
}

bool hasTemporaryBeside(const std::string& path) {
  const std::filesystem::path file(path);
  const std::string prefix = "." + file.filename().string() + ".lipo.";
  for (const auto& entry : std::filesystem::directory_iterator(file.parent_path())) {
    if (entry.path().filename().string().rfind(prefix, 0) == 0) {
      return true;
    }
  }
  return false;
}

bool exists(const std::string& path) {
  struct stat status {};
  return ::lstat(path.c_str(), &status) == 0;
}

int run(const std::vector<std::string>& argv, std::string* output) {
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
    return -1;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  std::vector<char*> args;
  for (const std::string& arg : argv) {
    args.push_back(const_cast<char*>(arg.c_str()));
  }
  args.push_back(nullptr);
  pid_t pid = 0;
  const int spawned = ::posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipeFds[1]);
  std::string text;
  char buffer[4096];
  for (ssize_t count; (count = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;) {
    text.append(buffer, size_t(count));
  }
  ::close(pipeFds[0]);
  if (spawned != 0) {
    return -1;
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (output != nullptr) {
    *output = text;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

namespace {

std::optional<std::string> findTool(const std::vector<std::string>& candidates) {
  for (const std::string& candidate : candidates) {
    if (::access(candidate.c_str(), X_OK) == 0) {
      return candidate;
    }
  }
  return std::nullopt;
}

} // namespace

std::optional<std::string> clangPath() {
  return findTool({"/usr/bin/clang", "clang"});
}

std::optional<std::string> llvmLipoPath() {
  return findTool(
      {"/usr/lib/llvm-14/bin/llvm-lipo", "/usr/bin/llvm-lipo-14", "/usr/bin/llvm-lipo"});
}

const Bytes& machObject(const std::string& architecture) {
  static const std::map<std::string, Bytes> objects = [] {
    std::map<std::string, Bytes> made;
    auto clang = clangPath();
    if (!clang) {
      return made;
    }
    TemporaryDirectory directory;
    const std::string source = directory.file("slice.c");
    const std::string text = "int answer(int x) { return x * 6 + 4; }\n";
    writeFile(source, Bytes(text.begin(), text.end()));
    for (const char* name : {"arm64", "arm64e", "x86_64", "x86_64h"}) {
      const std::string object = directory.file(std::string(name) + ".o");
      if (run({*clang, "-c", "-O1", "-target", std::string(name) + "-apple-macos11", source, "-o",
               object}) == 0) {
        made[name] = readFile(object);
      }
    }
    return made;
  }();
  static const Bytes none;
  auto found = objects.find(architecture);
  return found == objects.end() ? none : found->second;
}

bool haveRealTools() {
  return llvmLipoPath().has_value() && !machObject("arm64").empty() &&
         !machObject("x86_64").empty() && !machObject("x86_64h").empty() &&
         !machObject("arm64e").empty();
}

Bytes fatFile(bool fat64, const std::vector<Slice>& slices, std::optional<uint32_t> count) {
  const uint64_t recordSize = fat::recordSize(fat64);
  Bytes bytes(fat::kHeaderSize + slices.size() * recordSize, 0);
  fat::storeBig32(bytes.data(), fat64 ? fat::kMagic64 : fat::kMagic32);
  fat::storeBig32(bytes.data() + 4, count.value_or(uint32_t(slices.size())));
  for (size_t index = 0; index < slices.size(); ++index) {
    const Slice& slice = slices[index];
    fat::encodeRecord({slice.cpuType, slice.cpuSubType, slice.offset, slice.size, slice.align},
                      fat64, bytes.data() + fat::kHeaderSize + index * recordSize);
  }
  for (const Slice& slice : slices) {
    if (slice.data.empty()) {
      continue;
    }
    if (bytes.size() < slice.offset + slice.data.size()) {
      bytes.resize(slice.offset + slice.data.size(), 0);
    }
    std::copy(slice.data.begin(), slice.data.end(), bytes.begin() + long(slice.offset));
  }
  return bytes;
}

} // namespace lipo::test
