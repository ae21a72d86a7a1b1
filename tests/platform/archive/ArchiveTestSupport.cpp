#include "ArchiveTestSupport.h"

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace archive_test {

TemporaryDirectory::TemporaryDirectory() {
  std::string pattern = "/tmp/archive-test-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("mkdtemp failed");
  }
  path_ = pattern;
}

TemporaryDirectory::~TemporaryDirectory() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

ProcessResult runScript(const std::string& script, const std::vector<std::string>& arguments) {
  std::vector<std::string> argv = {ARCHIVE_TEST_PYTHON,
                                   std::string(ARCHIVE_TEST_SCRIPTS) + "/" + script};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  std::vector<char*> pointers;
  for (auto& argument : argv) {
    pointers.push_back(argument.data());
  }
  pointers.push_back(nullptr);

  int pipeEnds[2];
  if (::pipe2(pipeEnds, O_CLOEXEC) != 0) {
    return {};
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, pointers[0], &actions, nullptr, pointers.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipeEnds[1]);
  ProcessResult result;
  if (spawned != 0) {
    ::close(pipeEnds[0]);
    return result;
  }
  char buffer[4096];
  ssize_t count;
  while ((count = ::read(pipeEnds[0], buffer, sizeof buffer)) > 0) {
    result.output.append(buffer, static_cast<size_t>(count));
  }
  ::close(pipeEnds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

platform::Bytes readFile(const std::string& path) {
  std::ifstream stream(path, std::ios::binary);
  return platform::Bytes(std::istreambuf_iterator<char>(stream), {});
}

void writeFile(const std::string& path, const platform::Bytes& bytes) {
  std::ofstream stream(path, std::ios::binary);
  stream.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

platform::Bytes pythonArchive(const std::string& name) {
  static TemporaryDirectory directory;
  static const bool generated = runScript("make_archives.py", {directory.path()}).status == 0;
  if (!generated) {
    throw std::runtime_error("make_archives.py failed");
  }
  auto bytes = readFile(directory.path() + "/" + name + ".archive");
  if (bytes.empty()) {
    throw std::runtime_error("no archive named " + name);
  }
  return bytes;
}

} // namespace archive_test
