#include "platform/foundation/PathUtilities.h"

#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace platform {

std::string homeDirectoryForCurrentUser() {
  passwd entry{};
  passwd* result = nullptr;
  std::vector<char> buffer(16384);
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &result) != 0 ||
      result == nullptr || result->pw_dir == nullptr) {
    return {};
  }
  return result->pw_dir;
}

std::string abbreviatingWithTildeInPath(const std::string& path) {
  std::string home = homeDirectoryForCurrentUser();
  while (home.size() > 1 && home.back() == '/') {
    home.pop_back();
  }
  if (home.empty() || home == "/" || path.compare(0, home.size(), home) != 0) {
    return path;
  }
  if (path.size() == home.size()) {
    return "~";
  }
  return path[home.size()] == '/' ? "~" + path.substr(home.size()) : path;
}

} // namespace platform
