#include "TemporaryFolder.h"

#include <filesystem>
#include <stdexcept>
#include <stdlib.h>

namespace platform::posix::testing {

TemporaryFolder::TemporaryFolder() {
  std::string pattern = "/tmp/posix-test-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("mkdtemp failed");
  }
  path_ = pattern;
}

TemporaryFolder::~TemporaryFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

int openDescriptorCount() {
  int count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    ++count;
  }
  return count;
}

} // namespace platform::posix::testing
