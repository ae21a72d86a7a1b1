#include "tasks/KLVFileTreeEnumerator.h"

#include "tasks/KLVURLProperties.h"
#include "utilities/FileManager.h"

#include <algorithm>
#include <climits>

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
  if (!klv_isDirectory(request.url)) {
    delegate_->iterateFile(*this, request.url);
    return;
  }
  if (request.shouldIncludeRootDirectory && !delegate_->iterateDirectory(*this, request.url)) {
    return;
  }
  platform::NSError listingError;
  if (!utilities::FileManager::defaultManager().contentsOfDirectoryAtPath(request.url,
                                                                          &listingError)) {
    delegate_->catchError(
        *this, platform::NSError(
                   kKLVFileTreeEnumeratorErrorDomain, kKLVFileTreeEnumeratorCannotOpenErrorCode,
                   {{platform::NSURLErrorKey, platform::URL::fileURLWithPath(request.url)}}));
    return;
  }
  walk(request, request.url, 1);
}

void KLVFileTreeEnumerator::walk(const KLVFileTreeEnumeratorRequest& request,
                                 const std::string& directory, uint64_t level) {
  auto names =
      utilities::FileManager::defaultManager().contentsOfDirectoryAtPath(directory, nullptr);
  if (!names) {
    return; // unreadable folders are passed over
  }
  std::sort(names->begin(), names->end());
  for (const auto& name : *names) {
    const std::string path = joined(directory, name);
    // Paths the system cannot name are beyond reach anyway; this also bounds the recursion.
    if (path.size() >= PATH_MAX) {
      continue;
    }
    const bool isDirectory = klv_isDirectory(path);
    if (request.filter != nullptr && !request.filter->isAcceptable(path)) {
      if (!isDirectory) {
        delegate_->filterItem(*this, path);
      }
      continue;
    }
    if (!isDirectory) {
      delegate_->iterateFile(*this, path);
      continue;
    }
    if (delegate_->iterateDirectory(*this, path) && level <= request.maxEnumerationDepth) {
      walk(request, path, level + 1);
    }
  }
}

} // namespace tasks
