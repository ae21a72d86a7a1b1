#include "tasks/files/KLVFileTreeEnumerator.h"

#include "platform/posix/DirectoryReader.h"
#include "tasks/files/KLVURLProperties.h"

#include <algorithm>
#include <climits>
#include <dirent.h>
#include <fcntl.h>
#include <string_view>
#include <unistd.h>

namespace tasks {

namespace {
std::string lastPathComponent(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string joined(const std::string& directory, const std::string& name) {
  return directory.ends_with('/') ? directory + name : directory + "/" + name;
}
} // namespace

bool KLVDSStoreURLFilter::isAcceptable(const std::string& path) const {
  return lastPathComponent(path) != ".DS_Store";
}

void KLVFileTreeEnumerator::perform() {
  delegate_->enumeratorDidStart(*this);
  for (const auto& request : requests_) {
    run(request);
  }
  delegate_->enumeratorDidFinish(*this);
}

void KLVFileTreeEnumerator::run(const KLVFileTreeEnumeratorRequest& request) {
  if (request.url.empty()) {
    delegate_->catchError(*this, platform::NSError(kKLVFileTreeEnumeratorErrorDomain,
                                                   kKLVFileTreeEnumeratorCannotOpenErrorCode));
    return;
  }
  if (request.filter != nullptr && !request.filter->isAcceptable(request.url)) {
    delegate_->filterItem(*this, request.url);
    return;
  }
  struct stat status {};
  if (::lstat(request.url.c_str(), &status) != 0) {
    // A root that does not exist (or cannot be looked at) is no tree: nothing is reported as
    // found. The cause is taken before anything else can change errno.
    auto cause = std::make_shared<const platform::NSError>(platform::NSError::posix(errno));
    delegate_->catchError(
        *this, platform::NSError(
                   kKLVFileTreeEnumeratorErrorDomain, kKLVFileTreeEnumeratorCannotOpenErrorCode,
                   {{platform::NSURLErrorKey, platform::URL::fileURLWithPath(request.url)},
                    {platform::NSUnderlyingErrorKey, std::move(cause)}}));
    return;
  }
  const std::optional<std::string> canonical =
      S_ISLNK(status.st_mode) ? std::nullopt : klv_canonicalPath(request.url);
  const KLVFileTreeItem root{request.url, status, canonical};
  if (!root.isDirectory()) {
    delegate_->iterateFile(*this, root);
    return;
  }
  if (request.shouldIncludeRootDirectory && !delegate_->iterateDirectory(*this, root)) {
    return;
  }
  if (!walk(request, request.url, canonical, 1)) {
    delegate_->catchError(
        *this, platform::NSError(
                   kKLVFileTreeEnumeratorErrorDomain, kKLVFileTreeEnumeratorCannotOpenErrorCode,
                   {{platform::NSURLErrorKey, platform::URL::fileURLWithPath(request.url)}}));
  }
}

namespace {

struct DirectoryEntry {
  std::string name;
  struct stat status;
};

// The entries of the folder at `path` (not "." and ".."), each with its lstat, sorted by name;
// none when the folder cannot be opened as a folder without following a link.
std::optional<std::vector<DirectoryEntry>> readEntries(const std::string& path) {
  auto directory = platform::posix::DirectoryReader::open(path, O_NOFOLLOW);
  if (!directory) {
    return std::nullopt;
  }
  std::vector<DirectoryEntry> entries;
  while (const auto name = directory->next()) {
    DirectoryEntry item{std::string(*name), {}};
    if (::fstatat(directory->fd(), name->data(), &item.status, AT_SYMLINK_NOFOLLOW) != 0) {
      item.status = {};
    }
    entries.push_back(std::move(item));
  }
  directory.reset();
  std::sort(entries.begin(), entries.end(),
            [](const DirectoryEntry& a, const DirectoryEntry& b) { return a.name < b.name; });
  return entries;
}

} // namespace

bool KLVFileTreeEnumerator::walk(const KLVFileTreeEnumeratorRequest& request,
                                 const std::string& directory,
                                 const std::optional<std::string>& canonicalDirectory,
                                 uint64_t level) {
  auto entries = readEntries(directory);
  if (!entries) {
    return false; // below the root, unreadable folders are passed over
  }
  std::optional<std::string> canonical;
  for (const auto& entry : *entries) {
    const std::string path = joined(directory, entry.name);
    // Paths the system cannot name are beyond reach anyway; this also bounds the recursion.
    if (path.size() >= PATH_MAX) {
      continue;
    }
    const bool resolvable =
        canonicalDirectory && entry.status.st_mode != 0 && !S_ISLNK(entry.status.st_mode);
    canonical = resolvable ? std::optional(joined(*canonicalDirectory, entry.name)) : std::nullopt;
    const KLVFileTreeItem item{path, entry.status, canonical};
    if (request.filter != nullptr && !request.filter->isAcceptable(path)) {
      if (!item.isDirectory()) {
        delegate_->filterItem(*this, path);
      }
      continue;
    }
    if (!item.isDirectory()) {
      delegate_->iterateFile(*this, item);
      continue;
    }
    if (delegate_->iterateDirectory(*this, item) && level <= request.maxEnumerationDepth) {
      walk(request, path, canonical, level + 1);
    }
  }
  return true;
}

} // namespace tasks
