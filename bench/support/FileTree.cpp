#include "FileTree.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace bench {

bool makeFlatTree(const std::string& root, int folders, int filesPerFolder) {
  if (::mkdir(root.c_str(), 0755) != 0) {
    return false;
  }
  for (int folder = 0; folder < folders; ++folder) {
    const std::string directory = root + "/folder-" + std::to_string(folder);
    if (::mkdir(directory.c_str(), 0755) != 0) {
      return false;
    }
    const int directoryFd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directoryFd < 0) {
      return false;
    }
    for (int file = 0; file < filesPerFolder; ++file) {
      const std::string name = "file-" + std::to_string(file) + ".dat";
      const int fd =
          ::openat(directoryFd, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
      if (fd < 0) {
        ::close(directoryFd);
        return false;
      }
      ::close(fd);
    }
    ::close(directoryFd);
  }
  return true;
}

} // namespace bench
