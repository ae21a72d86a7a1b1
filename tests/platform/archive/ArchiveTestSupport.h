#pragma once

#include "platform/foundation/Base64.h"

#include <string>
#include <vector>

namespace archive_test {

// A directory under /tmp removed with its files when the object goes.
class TemporaryDirectory {
public:
  TemporaryDirectory();
  ~TemporaryDirectory();
  TemporaryDirectory(const TemporaryDirectory&) = delete;
  TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;
  const std::string& path() const { return path_; }

private:
  std::string path_;
};

struct ProcessResult {
  int status = -1;
  std::string output;
};

// Runs one of the Python scripts beside the tests (no shell) and collects its standard output.
ProcessResult runScript(const std::string& script, const std::vector<std::string>& arguments);

platform::Bytes readFile(const std::string& path);
void writeFile(const std::string& path, const platform::Bytes& bytes);

// The archives that make_archives.py writes, generated once per test run.
platform::Bytes pythonArchive(const std::string& name);

} // namespace archive_test
