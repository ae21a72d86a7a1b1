#pragma once

#include "platform/foundation/NSError.h"

#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace tasks {

inline constexpr const char* kKLVFileTreeEnumeratorErrorDomain =
    "kKLVFileTreeEnumeratorErrorDomain";
inline constexpr int64_t kKLVFileTreeEnumeratorCannotOpenErrorCode = 1;

// Decides which items a walk reports.
class KLVURLFilter {
public:
  virtual ~KLVURLFilter() = default;
  virtual bool isAcceptable(const std::string& path) const = 0;
};

// Accepts every item whose last path component is not ".DS_Store".
class KLVDSStoreURLFilter final : public KLVURLFilter {
public:
  bool isAcceptable(const std::string& path) const override;
};

struct KLVFileTreeEnumeratorRequest {
  std::string url; // the root path
  uint64_t maxEnumerationDepth = std::numeric_limits<uint64_t>::max();
  const KLVURLFilter* filter = nullptr;
  bool shouldIncludeRootDirectory = false;
};

class KLVFileTreeEnumerator;

// One item of a walk, with what the walk already knows of it, so that a delegate need not look
// the path up again: its status with links not followed (st_mode 0 when it could not be read)
// and its canonical path (the walk never follows links, so this is the canonical path of its
// folder joined with its name; none when the item is a link or unreadable).
struct KLVFileTreeItem {
  const std::string& path;
  const struct stat& status;
  const std::optional<std::string>& canonicalPath;

  bool isDirectory() const { return S_ISDIR(status.st_mode); }
  bool isSymbolicLink() const { return S_ISLNK(status.st_mode); }
  bool isRegularFile() const { return S_ISREG(status.st_mode); }
  bool isExecutable() const {
    return status.st_mode != 0 && !isSymbolicLink() &&
           (status.st_mode & (S_IXUSR | S_IXGRP | S_IXOTH)) != 0;
  }
};

// What the walk reports, in order: start, each item, filtered items, errors, finish.
class KLVFileTreeEnumeratorDelegate {
public:
  virtual ~KLVFileTreeEnumeratorDelegate() = default;
  virtual void enumeratorDidStart(KLVFileTreeEnumerator&) {}
  // True to descend into the folder.
  virtual bool iterateDirectory(KLVFileTreeEnumerator& enumerator, const KLVFileTreeItem& item) = 0;
  virtual void iterateFile(KLVFileTreeEnumerator& enumerator, const KLVFileTreeItem& item) = 0;
  virtual void filterItem(KLVFileTreeEnumerator&, const std::string&) {}
  virtual void catchError(KLVFileTreeEnumerator&, const platform::NSError&) {}
  virtual void enumeratorDidFinish(KLVFileTreeEnumerator&) {}
};

// Walks folder trees in pre-order without following symbolic links. Items directly inside the
// root are at level 1; a folder is entered when the delegate agrees and its level is at most
// the request's depth, so items are reported down to depth + 1. Unreadable folders are passed
// over. Each folder is read once through its descriptor (opened without following links) and
// each entry costs one lstat relative to it; the descriptor is closed before the walk descends,
// so deep trees hold no more than one folder open.
class KLVFileTreeEnumerator {
public:
  KLVFileTreeEnumerator(std::vector<KLVFileTreeEnumeratorRequest> requests,
                        KLVFileTreeEnumeratorDelegate* delegate)
      : requests_(std::move(requests)), delegate_(delegate) {}

  void perform();

private:
  void run(const KLVFileTreeEnumeratorRequest& request);
  // False when `directory` itself cannot be read.
  bool walk(const KLVFileTreeEnumeratorRequest& request, const std::string& directory,
            const std::optional<std::string>& canonicalDirectory, uint64_t level);

  std::vector<KLVFileTreeEnumeratorRequest> requests_;
  KLVFileTreeEnumeratorDelegate* delegate_;
};

} // namespace tasks
