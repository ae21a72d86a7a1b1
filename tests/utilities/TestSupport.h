#pragma once

#include <string>

namespace utilities::test {

// A fresh folder under the temporary directory, removed with everything inside at the end.
class TempDir {
public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
  std::string path_;
};

void writeFile(const std::string& path, const std::string& contents);
std::string readFile(const std::string& path);
// Writes an executable shell script (the child runs with an empty environment, so scripts
// name every tool by absolute path).
void writeScript(const std::string& path, const std::string& body);
bool exists(const std::string& path);
// Runs a shell command line in the test (never in the code under test); its exit status.
int shell(const std::string& command);

// A folder on a file system that keeps immutable flags: the temporary directory when it does,
// else (as root) a small ext4 image mounted through a loop device. `available()` is false when
// neither works; tests then skip.
class ImmutableCapableDir {
public:
  ImmutableCapableDir();
  ~ImmutableCapableDir();
  bool available() const { return !path_.empty(); }
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
  TempDir base_;
  std::string path_;
  std::string mountPoint_;
};

// Sets or clears the immutable flag through the kernel interface (like chattr +i / -i).
bool setImmutable(const std::string& path, bool immutable);
bool isImmutable(const std::string& path);

} // namespace utilities::test
