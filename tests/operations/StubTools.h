#pragma once

// Helpers of the operation tests: a private temporary root and stub tools inside it that log
// their arguments and standard input and answer what the test sets.

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace operations::test {

// A fresh folder, removed with everything inside at the end. `base` names where it is made
// (a tmpfs such as /dev/shm keeps fsync-heavy tests fast).
class TemporaryRoot {
public:
  explicit TemporaryRoot(std::string base = std::filesystem::temp_directory_path().string()) {
    std::string pattern = base + "/operations-test-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
      throw std::runtime_error("mkdtemp failed in " + base);
    }
    path_ = pattern;
  }
  ~TemporaryRoot() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TemporaryRoot(const TemporaryRoot&) = delete;
  TemporaryRoot& operator=(const TemporaryRoot&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(const std::string& relative) const { return path_ + "/" + relative; }

private:
  std::string path_;
};

inline void writeFile(const std::string& path, const std::string& contents) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << contents;
}

inline std::string readFile(const std::string& path) {
  std::ifstream stream(path, std::ios::binary);
  std::stringstream contents;
  contents << stream.rdbuf();
  return contents.str();
}

inline bool exists(const std::string& path) {
  struct stat status {};
  return ::lstat(path.c_str(), &status) == 0;
}

// What a stub tool does besides logging: its standard output, its exit status, whether it
// reads (and logs) its standard input, and shell lines run before it prints.
struct StubBehaviour {
  std::string output;
  int status = 0;
  bool readsStandardInput = false;
  std::string before;

  StubBehaviour& printing(std::string text) {
    output = std::move(text);
    return *this;
  }
  StubBehaviour& exitingWith(int code) {
    status = code;
    return *this;
  }
  StubBehaviour& readingInput() {
    readsStandardInput = true;
    return *this;
  }
  StubBehaviour& runningFirst(std::string lines) {
    before = std::move(lines);
    return *this;
  }
};

// Writes an executable stub at `root` + `toolPath` (e.g. "/usr/sbin/periodic"). Each run
// appends its arguments, one "[argument]" per line, and a "--" line to
// `root`/log/<tool name>.argv, and its standard input (when read) to <tool name>.stdin. Tools
// run with an empty environment, so the script names every command by absolute path.
inline void writeStubTool(const std::string& root, const std::string& toolPath,
                          const StubBehaviour& behaviour = {}) {
  const std::string name = std::filesystem::path(toolPath).filename().string();
  const std::string logBase = root + "/log/" + name;
  std::filesystem::create_directories(root + "/log");
  writeFile(logBase + ".out", behaviour.output);
  std::string script = "#!/bin/sh\n"
                       "for argument in \"$@\"; do printf '[%s]\\n' \"$argument\" >> '" +
                       logBase + ".argv'; done\n" + "echo -- >> '" + logBase + ".argv'\n";
  if (behaviour.readsStandardInput) {
    script += "/bin/cat >> '" + logBase + ".stdin'\n";
  }
  script += behaviour.before + "\n";
  script += "/bin/cat '" + logBase + ".out'\n";
  script += "exit " + std::to_string(behaviour.status) + "\n";
  writeFile(root + toolPath, script);
  ::chmod((root + toolPath).c_str(), 0755);
}

// The argument lists of every run of the stub, in order.
inline std::vector<std::vector<std::string>> stubRuns(const std::string& root,
                                                      const std::string& toolName) {
  std::vector<std::vector<std::string>> runs;
  std::istringstream lines(readFile(root + "/log/" + toolName + ".argv"));
  std::vector<std::string> current;
  for (std::string line; std::getline(lines, line);) {
    if (line == "--") {
      runs.push_back(std::move(current));
      current.clear();
    } else if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
      current.push_back(line.substr(1, line.size() - 2));
    }
  }
  return runs;
}

inline std::string stubStandardInput(const std::string& root, const std::string& toolName) {
  return readFile(root + "/log/" + toolName + ".stdin");
}

} // namespace operations::test
