#pragma once

#include "platform/foundation/NSError.h"
#include "platform/foundation/URL.h"
#include "tasks/files/KLVFileImmutabilityService.h"

#include <string>

namespace tasks {

inline constexpr const char* kKLVFileRemoverErrorDomain = "kKLVFileRemoverErrorDomain";
enum KLVFileRemoverErrorCode : int64_t {
  kKLVFileRemoverEmptyParentRemovalFailed = 1,
  kKLVFileRemoverUnlockFailed = 2,
  kKLVFileRemoverNoSuchItem = 3,
  kKLVFileRemoverCollectedErrors = 100501,
};

// Removes an item as root: a plain removal first; when that fails for another reason than a
// missing item, the immutable flags of the parent folder itself (not of what else it holds)
// and of the item's own tree are cleared and the removal is tried once more; an item removed
// then is a success without an error. Afterwards a parent folder left empty is removed as well.
class KLVFileRemoverService {
public:
  KLVFileRemoverService() = default;
  explicit KLVFileRemoverService(KLVFileImmutabilityService immutabilityService)
      : immutabilityService_(immutabilityService) {}

  bool removeFileWithURL(const platform::URL& url, bool leaveEmptyDirectories,
                         platform::NSError* error) const;
  bool removeFileWithPath(const std::string& path, bool leaveEmptyDirectories,
                          platform::NSError* error) const;

  // Removes `directory` when it is empty, then its parent, and so on, at most `budget` folders;
  // never the root "/". Hidden entries such as ".DS_Store" keep a folder.
  static bool klv_removeEmptyParentDirectories(const std::string& directory, unsigned budget,
                                               platform::NSError* error);

private:
  bool forceRemove(const std::string& path, platform::NSError* error) const;

  KLVFileImmutabilityService immutabilityService_;
};

} // namespace tasks
