#pragma once

#include "platform/foundation/NSError.h"

#include <cstdint>
#include <functional>
#include <limits>
#include <string>
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

// What the walk reports, in order: start, each item, filtered items, errors, finish.
class KLVFileTreeEnumeratorDelegate {
public:
  virtual ~KLVFileTreeEnumeratorDelegate() = default;
  virtual void enumeratorDidStart(KLVFileTreeEnumerator&) {}
  // True to descend into the folder.
  virtual bool iterateDirectory(KLVFileTreeEnumerator& enumerator, const std::string& path) = 0;
  virtual void iterateFile(KLVFileTreeEnumerator& enumerator, const std::string& path) = 0;
  virtual void filterItem(KLVFileTreeEnumerator&, const std::string&) {}
  virtual void catchError(KLVFileTreeEnumerator&, const platform::NSError&) {}
  virtual void enumeratorDidFinish(KLVFileTreeEnumerator&) {}
};

// Walks folder trees in pre-order without following symbolic links. Items directly inside the
// root are at level 1; a folder is entered when the delegate agrees and its level is at most
// the request's depth, so items are reported down to depth + 1. Unreadable folders are passed
// over.
class KLVFileTreeEnumerator {
public:
  KLVFileTreeEnumerator(std::vector<KLVFileTreeEnumeratorRequest> requests,
                        KLVFileTreeEnumeratorDelegate* delegate)
      : requests_(std::move(requests)), delegate_(delegate) {}

  void perform();

private:
  void run(const KLVFileTreeEnumeratorRequest& request);
  void walk(const KLVFileTreeEnumeratorRequest& request, const std::string& directory,
            uint64_t level);

  std::vector<KLVFileTreeEnumeratorRequest> requests_;
  KLVFileTreeEnumeratorDelegate* delegate_;
};

} // namespace tasks
