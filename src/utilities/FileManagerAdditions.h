#pragma once

#include "platform/foundation/NSError.h"
#include "platform/foundation/URL.h"

#include <set>
#include <string>
#include <vector>

namespace utilities {

// Forced removal, truncation, moving and listing helpers on top of the default file manager.
// All run with the daemon's rights, never throw, and report failure as false, an empty list or
// an error out-parameter carrying the file manager's own error.

// Removes the item (a whole folder tree). A missing item counts as removed. When the first
// attempt fails, the immutable flags of the parent folder and (recursively) of the item are
// cleared and the removal is tried once more.
bool removeFileAndHandleLockAtPath(const std::string& path, platform::NSError* error);

// Clears the user- and system-immutable flags of the item, and of everything inside it when
// `recursively`. The final symbolic link of `path` is not followed, and links inside the tree
// are never followed, so no flag outside the item changes.
void tryToUnlockFileIfNeeded(const std::string& path, bool recursively);

// Truncates an existing regular file (symbolic links followed) to length 0. False for a
// missing path, a folder, any other kind of item, or a file that cannot be opened.
bool truncateFileAtPath(const std::string& path);

// Removes every entry of the folder (hidden ones included) with
// removeFileAndHandleLockAtPath, going on after a failure; the folder itself stays. True only
// if every entry was removed; false (and a log line) when the folder cannot be listed.
bool removeContentsOfDirectoryAtPath(const std::string& path);

// Error domain of securelyRemoveFileAtPath.
inline constexpr const char* kSecureRemoveErrorDomain =
    "com.quillby.Lumora.SecureRemoveErrorDomain";

// Clears the item's immutable flags, overwrites every regular file inside it once with random
// bytes and removes it (a whole tree for a folder). Files with more than one hard link are
// removed without overwriting, since their data is still reachable under another name. On
// failure the error has kSecureRemoveErrorDomain and code -1.
bool securelyRemoveFileAtPath(const std::string& path, platform::NSError* error);

// Moves the item at `source` to the path `destination`, creating the destination's missing
// parent folders and clearing immutable flags that would stand in the way. A destination equal
// to the source's own folder is a success that does nothing. A destination without a parent
// part would mean the Trash, which does not exist here: that gives false with
// NSFeatureUnsupportedError.
bool advancedMoveItemAtPath(const std::string& source, const std::string& destination,
                            platform::NSError* error);

// The folder's entries joined to the folder path; empty when the folder cannot be read.
std::vector<std::string> directoryContentsWithFullPathsAtPath(const std::string& path);

// The contents (as file URLs) of every folder found at depth `level` of a walk from `url` that
// skips hidden items and does not descend below such a folder; entries directly inside `url`
// are at level 1.
std::vector<platform::URL> contentsOfDirectoryAtURL(const platform::URL& url, int level);

// The folder's entry names and, when `secondLevel`, the names one level deeper written as
// "entry/child".
std::set<std::string> getContentOfPath(const std::string& path, bool secondLevel);

} // namespace utilities
