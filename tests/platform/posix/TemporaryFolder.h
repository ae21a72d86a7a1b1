#pragma once

#include <string>

namespace platform::posix::testing {

// A fresh folder under /tmp, removed with everything in it when the test ends.
class TemporaryFolder {
public:
  TemporaryFolder();
  ~TemporaryFolder();
  TemporaryFolder(const TemporaryFolder&) = delete;
  TemporaryFolder& operator=(const TemporaryFolder&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
  std::string path_;
};

// The number of descriptors this process has open.
int openDescriptorCount();

} // namespace platform::posix::testing
