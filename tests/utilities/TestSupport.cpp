#include "TestSupport.h"

#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <linux/fs.h>
#include <sstream>
#include <stdexcept>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace utilities::test {

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern =
      std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/utilities-test-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("mkdtemp failed");
  }
  path_ = pattern;
}

TempDir::~TempDir() {
  shell("chattr -R -i -a '" + path_ + "' 2>/dev/null; rm -rf '" + path_ + "'");
}

void writeFile(const std::string& path, const std::string& contents) {
  std::ofstream out(path, std::ios::binary);
  out << contents;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream buffer;
  buffer << in.rdbuf();
  return buffer.str();
}

void writeScript(const std::string& path, const std::string& body) {
  writeFile(path, "#!/bin/sh\n" + body + "\n");
  ::chmod(path.c_str(), 0755);
}

bool exists(const std::string& path) {
  struct stat info;
  return ::lstat(path.c_str(), &info) == 0;
}

int shell(const std::string& command) {
  int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool setImmutable(const std::string& path, bool immutable) {
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    return false;
  }
  int flags = 0;
  bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  flags = immutable ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
  ok = ok && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  ::close(fd);
  return ok;
}

bool isImmutable(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    return false;
  }
  int flags = 0;
  bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  ::close(fd);
  return ok && (flags & FS_IMMUTABLE_FL) != 0;
}

ImmutableCapableDir::ImmutableCapableDir() {
  const std::string probe = base_ / "probe";
  writeFile(probe, "x");
  if (setImmutable(probe, true)) {
    setImmutable(probe, false);
    ::unlink(probe.c_str());
    path_ = base_ / "work";
    ::mkdir(path_.c_str(), 0755);
    return;
  }
  if (::geteuid() != 0) {
    return;
  }
  const std::string image = base_ / "ext4.img";
  const std::string mountPoint = base_ / "mnt";
  ::mkdir(mountPoint.c_str(), 0755);
  if (shell("truncate -s 16M '" + image + "' && mkfs.ext4 -q -F '" + image +
            "' >/dev/null 2>&1 && mount -o loop '" + image + "' '" + mountPoint + "'") == 0) {
    mountPoint_ = mountPoint;
    path_ = mountPoint;
  }
}

ImmutableCapableDir::~ImmutableCapableDir() {
  if (!path_.empty()) {
    shell("chattr -R -i -a '" + path_ + "' 2>/dev/null");
  }
  if (!mountPoint_.empty()) {
    shell("umount '" + mountPoint_ + "'");
  }
}

} // namespace utilities::test
