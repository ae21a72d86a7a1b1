#include "utilities/FileManager.h"
#include "utilities/FileManagerAdditions.h"
#include "utilities/PathComponents.h"

#include <sys/stat.h>

namespace utilities {
namespace {

bool isHidden(const std::string& name) {
  return !name.empty() && name[0] == '.';
}

bool isFolderNotLink(const std::string& path) {
  struct stat info;
  return ::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// The visible entries of a folder as full paths; empty when it cannot be read.
std::vector<std::string> visibleEntries(const std::string& folder) {
  std::vector<std::string> paths;
  auto names = FileManager::defaultManager().contentsOfDirectoryAtPath(folder, nullptr);
  if (!names) {
    return paths;
  }
  for (const auto& name : *names) {
    if (!isHidden(name)) {
      paths.push_back(appendingPathComponent(folder, name));
    }
  }
  return paths;
}

} // namespace

std::vector<std::string> directoryContentsWithFullPathsAtPath(const std::string& path) {
  std::vector<std::string> paths;
  try {
    auto names = FileManager::defaultManager().contentsOfDirectoryAtPath(path, nullptr);
    if (names) {
      paths.reserve(names->size());
      for (const auto& name : *names) {
        paths.push_back(appendingPathComponent(path, name));
      }
    }
  } catch (const std::exception&) {
    paths.clear();
  }
  return paths;
}

std::vector<platform::URL> contentsOfDirectoryAtURL(const platform::URL& url, int level) {
  std::vector<platform::URL> contents;
  try {
    const std::string root = url.path();
    if (level < 1 || !hasFileSystemRepresentation(root)) {
      return contents;
    }
    // Level by level, so only one frontier of folders is held; links are not descended into.
    std::vector<std::string> frontier{root};
    for (int depth = 1; depth <= level && !frontier.empty(); ++depth) {
      std::vector<std::string> folders;
      for (const auto& folder : frontier) {
        for (auto& entry : visibleEntries(folder)) {
          if (isFolderNotLink(entry)) {
            folders.push_back(std::move(entry));
          }
        }
      }
      frontier = std::move(folders);
    }
    for (const auto& folder : frontier) {
      for (const auto& entry : visibleEntries(folder)) {
        contents.push_back(platform::URL::fileURLWithPath(entry));
      }
    }
  } catch (const std::exception&) {
    contents.clear();
  }
  return contents;
}

std::set<std::string> getContentOfPath(const std::string& path, bool secondLevel) {
  std::set<std::string> names;
  try {
    auto& fileManager = FileManager::defaultManager();
    auto entries = fileManager.contentsOfDirectoryAtPath(path, nullptr);
    if (!entries) {
      return names;
    }
    for (const auto& entry : *entries) {
      names.insert(entry);
      if (!secondLevel) {
        continue;
      }
      auto children =
          fileManager.contentsOfDirectoryAtPath(appendingPathComponent(path, entry), nullptr);
      for (const auto& child : children.value_or(std::vector<std::string>{})) {
        names.insert(entry + "/" + child);
      }
    }
  } catch (const std::exception&) {
    names.clear();
  }
  return names;
}

} // namespace utilities
