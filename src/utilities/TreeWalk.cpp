#include "utilities/TreeWalk.h"

#include "platform/posix/RetryOnInterrupt.h"
#include "utilities/UniqueFd.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace utilities {
namespace {

// Directories held open at once; deeper levels are reopened through "..".
constexpr size_t kOpenDirectoryWindow = 64;

constexpr int kDirectoryOpenFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

struct Entry {
  std::string name;
  unsigned char type; // DT_* from the directory, DT_UNKNOWN when the file system gives none
};

struct Level {
  UniqueFd fd;
  dev_t device = 0;
  ino_t inode = 0;
  std::string name; // name inside the parent level (the root's path for the root)
  std::vector<Entry> entries;
  size_t next = 0;
};

// Reads every entry of the open directory (without "." and ".."); false with errno on failure.
bool readEntries(int fd, std::vector<Entry>& entries) {
  alignas(8) char buffer[32768];
  for (;;) {
    const ssize_t got =
        platform::posix::retryOnInterrupt([&] { return ::getdents64(fd, buffer, sizeof buffer); });
    if (got < 0) {
      return false;
    }
    if (got == 0) {
      return true;
    }
    for (ssize_t offset = 0; offset < got;) {
      auto* entry = reinterpret_cast<dirent64*>(buffer + offset);
      offset += entry->d_reclen;
      const char* name = entry->d_name;
      if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) {
        continue;
      }
      entries.push_back(Entry{name, entry->d_type});
    }
  }
}

bool isDirectoryEntry(int parentFd, const Entry& entry) {
  if (entry.type != DT_UNKNOWN) {
    return entry.type == DT_DIR;
  }
  struct stat info;
  return ::fstatat(parentFd, entry.name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
         S_ISDIR(info.st_mode);
}

class Walker {
public:
  explicit Walker(TreeVisitor& visitor) : visitor_(visitor) {}

  bool run(std::string root) {
    // "link/" would resolve the link; the walk is about the item named, never a link's target.
    while (root.size() > 1 && root.back() == '/') {
      root.pop_back();
    }
    struct stat info;
    if (::lstat(root.c_str(), &info) != 0) {
      return false;
    }
    if (!S_ISDIR(info.st_mode)) {
      return visitor_.visitFile(AT_FDCWD, root.c_str()) != WalkControl::stop;
    }
    if (!descend(AT_FDCWD, root)) {
      return false;
    }
    while (!stack_.empty()) {
      Level& top = stack_.back();
      if (top.next == top.entries.size()) {
        if (!climb()) {
          return false;
        }
        continue;
      }
      Entry& entry = top.entries[top.next++];
      if (!visitEntry(top.fd.get(), entry)) {
        return false;
      }
    }
    return true;
  }

private:
  bool visitEntry(int parentFd, Entry& entry) {
    if (!isDirectoryEntry(parentFd, entry)) {
      return visitor_.visitFile(parentFd, entry.name.c_str()) != WalkControl::stop;
    }
    return descend(parentFd, std::move(entry.name));
  }

  // Opens and reads the directory, then hands it to the visitor; false to end the walk.
  bool descend(int parentFd, std::string name) {
    UniqueFd fd(::openat(parentFd, name.c_str(), kDirectoryOpenFlags));
    if (!fd) {
      // Replaced by something else since it was listed: treat it as what it now is.
      if (errno == ENOTDIR || errno == ELOOP) {
        return visitor_.visitFile(parentFd, name.c_str()) != WalkControl::stop;
      }
      return visitor_.failure(parentFd, name.c_str(), errno) != WalkControl::stop;
    }
    Level level;
    struct stat info;
    if (::fstat(fd.get(), &info) != 0 || !readEntries(fd.get(), level.entries)) {
      return visitor_.failure(parentFd, name.c_str(), errno) != WalkControl::stop;
    }
    if (!ancestors_.insert({info.st_dev, info.st_ino}).second) {
      return visitor_.failure(parentFd, name.c_str(), ELOOP) != WalkControl::stop;
    }
    auto control = visitor_.enterDirectory(parentFd, name.c_str(), fd.get());
    if (control != WalkControl::proceed) {
      ancestors_.erase({info.st_dev, info.st_ino});
      return control != WalkControl::stop;
    }
    level.fd = std::move(fd);
    level.device = info.st_dev;
    level.inode = info.st_ino;
    level.name = std::move(name);
    stack_.push_back(std::move(level));
    // Keep the number of open directories bounded: the level that leaves the window is
    // reopened through ".." when the walk climbs back to it.
    if (stack_.size() > kOpenDirectoryWindow) {
      stack_[stack_.size() - kOpenDirectoryWindow - 1].fd.reset();
    }
    return true;
  }

  // Makes sure the parent of the top level is open; false (errno set) when it moved away.
  bool reopenParentOfTop() {
    Level& parent = stack_[stack_.size() - 2];
    if (parent.fd) {
      return true;
    }
    UniqueFd fd(::openat(stack_.back().fd.get(), "..", kDirectoryOpenFlags));
    struct stat info;
    if (!fd || ::fstat(fd.get(), &info) != 0) {
      return false;
    }
    if (info.st_dev != parent.device || info.st_ino != parent.inode) {
      errno = ESTALE;
      return false;
    }
    parent.fd = std::move(fd);
    return true;
  }

  // Leaves the top level: closes it and reports it to the visitor from its parent.
  bool climb() {
    Level& top = stack_.back();
    ancestors_.erase({top.device, top.inode});
    if (stack_.size() == 1) {
      std::string name = std::move(top.name);
      stack_.pop_back();
      return visitor_.leaveDirectory(AT_FDCWD, name.c_str()) != WalkControl::stop;
    }
    if (!reopenParentOfTop()) {
      const int error = errno;
      const std::string name = stack_.back().name;
      stack_.clear();
      visitor_.failure(AT_FDCWD, name.c_str(), error);
      return false;
    }
    std::string name = std::move(stack_.back().name);
    stack_.pop_back();
    return visitor_.leaveDirectory(stack_.back().fd.get(), name.c_str()) != WalkControl::stop;
  }

  TreeVisitor& visitor_;
  std::vector<Level> stack_;
  std::set<std::pair<dev_t, ino_t>> ancestors_;
};

} // namespace

bool walkTree(const std::string& root, TreeVisitor& visitor) {
  Walker walker(visitor);
  return walker.run(root);
}

} // namespace utilities
