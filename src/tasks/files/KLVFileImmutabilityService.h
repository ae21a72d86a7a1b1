#pragma once

#include "platform/foundation/NSError.h"

#include <cstdint>
#include <string>

namespace tasks {

inline constexpr const char* kKLVFileImmutabilityErrorDomain = "kKLVFileImmutabilityErrorDomain";

// Reads and clears the user and system immutable flags of a file tree. On Linux both flags are
// the one immutable bit of the inode. Symbolic links are never followed.
class KLVFileImmutabilityService {
public:
  // Mask bits of isLockedFileAt: 1 user immutable, 2 system immutable.
  static constexpr uint32_t kUserImmutable = 1;
  static constexpr uint32_t kSystemImmutable = 2;
  // The depth at which the recursive unlock stops descending, silently.
  static constexpr int kMaxUnlockDepth = 50;

  // Clears the flags of `path` and of everything below it down to the depth limit. Collects
  // every failure: one is reported as it is, several under kKLVEmbeddedErrorsKey.
  bool unlockFileWithPath(const std::string& path, platform::NSError* error) const;
  // Clears the flags of `path` alone, never of what lies below it.
  bool unlockFileItselfWithPath(const std::string& path, platform::NSError* error) const {
    return unlockOne(path, error);
  }
  bool lockFileWithPath(const std::string& path, uint32_t flags, platform::NSError* error) const;
  bool isLockedFileAt(const std::string& path, uint32_t flags, platform::NSError* error) const;
  bool isLockedFileAt(const std::string& path, platform::NSError* error) const {
    return isLockedFileAt(path, kUserImmutable | kSystemImmutable, error);
  }

private:
  bool unlockRecursively(const std::string& path, int depth, platform::NSError* error) const;
  bool unlockOne(const std::string& path, platform::NSError* error) const;
};

} // namespace tasks
