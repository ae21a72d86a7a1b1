#include "lipo/Sandbox.h"

#include <cstdlib>
#include <optional>
#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace lipo {
namespace {

std::optional<std::string> homeFolderInUserDatabase(const char* name, uid_t uid) {
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  const int status = name != nullptr
                         ? ::getpwnam_r(name, &entry, buffer.data(), buffer.size(), &found)
                         : ::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found);
  if (status != 0 || found == nullptr || found->pw_dir == nullptr || *found->pw_dir == '\0') {
    return std::nullopt;
  }
  return std::string(found->pw_dir);
}

// The current user's home folder from the user database, looked up once.
const std::optional<std::string>& realHomeFolder() {
  static const std::optional<std::string> home = homeFolderInUserDatabase(nullptr, ::getuid());
  return home;
}

// The home folder the process itself sees: $HOME, else the user database.
std::optional<std::string> processHomeFolder() {
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
    return std::string(home);
  }
  return realHomeFolder();
}

std::string withoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') {
    path.pop_back();
  }
  return path;
}

std::string expandTilde(const std::string& path) {
  if (path.empty() || path[0] != '~') {
    return path;
  }
  const auto slash = path.find('/');
  const std::string user =
      path.substr(1, slash == std::string::npos ? std::string::npos : slash - 1);
  const std::string rest = slash == std::string::npos ? std::string() : path.substr(slash);
  std::optional<std::string> home =
      user.empty() ? processHomeFolder() : homeFolderInUserDatabase(user.c_str(), 0);
  if (!home) {
    return path;
  }
  return withoutTrailingSlashes(withoutTrailingSlashes(*home) + rest);
}

} // namespace

std::string lipo_stringByExpandingTildeInPath(const std::string& path) {
  const bool sandboxed = std::getenv("APP_SANDBOX_CONTAINER_ID") != nullptr;
  if (sandboxed && !path.empty() && path[0] == '~' && realHomeFolder()) {
    return expandTilde(*realHomeFolder() + path.substr(1));
  }
  return expandTilde(path);
}

std::string lipo_stringByCollapsingTildeInPath(const std::string& path) {
  const std::string home = lipo_stringByExpandingTildeInPath("~");
  // Nothing to collapse when there is no home folder, or it is the root (every "/" would go).
  if (home.empty() || home == "~" || home == "/") {
    return path;
  }
  std::string collapsed;
  size_t position = 0;
  for (size_t found; (found = path.find(home, position)) != std::string::npos;
       position = found + home.size()) {
    collapsed.append(path, position, found - position).append("~");
  }
  return collapsed.append(path, position, std::string::npos);
}

} // namespace lipo
