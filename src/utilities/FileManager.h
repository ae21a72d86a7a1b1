#pragma once

#include "platform/foundation/NSError.h"

#include <optional>
#include <string>
#include <vector>

namespace utilities {

// The ordinary operations of the platform's default file manager that the utilities and the
// operations rely on. Failures are reported as false or none with the file manager's own
// errors (domain "NSCocoaErrorDomain": 4 no such file, 513 no permission, 516 exists, ...).
// Stateless and safe to call from any thread.
class FileManager {
public:
  static FileManager& defaultManager();

  // Whether an item exists at `path` (symbolic links followed); optionally whether it is a
  // directory.
  bool fileExistsAtPath(const std::string& path, bool* isDirectory = nullptr) const;

  // Removes the item at `path`, a folder with everything inside it. A symbolic link is removed
  // itself; no link is followed inside the tree. Stops at the first item it cannot remove.
  // The root folder "/" is never removed.
  bool removeItemAtPath(const std::string& path, platform::NSError* error) const;

  // Moves (renames) the item at `source` to `destination`; an existing item at the destination
  // makes the move fail with 516. Across file systems the item is copied and then removed.
  bool moveItemAtPath(const std::string& source, const std::string& destination,
                      platform::NSError* error) const;

  // Creates the folder (and, when asked, its missing parents); an existing folder is fine when
  // intermediate folders are requested.
  bool createDirectoryAtPath(const std::string& path, bool withIntermediateDirectories,
                             platform::NSError* error) const;

  // The names inside the folder (hidden ones included, "." and ".." excluded), unsorted.
  std::optional<std::vector<std::string>> contentsOfDirectoryAtPath(const std::string& path,
                                                                    platform::NSError* error) const;
};

} // namespace utilities
