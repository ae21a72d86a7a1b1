#pragma once

#include "platform/foundation/Base64.h"
#include "platform/foundation/NSError.h"
#include "platform/foundation/URL.h"

#include <cstddef>
#include <functional>
#include <optional>

namespace tasks {

// Bounded reads and in-place rewrites of regular files. Files are opened without following a
// symbolic link in the last component and without blocking, and anything but a regular file is
// refused, so that a link or a pipe planted in a root-owned folder cannot redirect the work.
class KLVFileDataAccessService {
public:
  // Returns the new contents, or none after setting `stop` to leave the file as it is.
  using ReplacementBlock =
      std::function<std::optional<platform::Bytes>(const platform::Bytes& contents, bool& stop)>;

  virtual ~KLVFileDataAccessService() = default;

  // At most `length` bytes from the start of the file.
  virtual std::optional<platform::Bytes> readDataWithURL(const platform::URL& url, size_t length,
                                                         platform::NSError* error) const;

  // Reads the file (at most `length` bytes), hands them to `block`, then writes the new bytes
  // from offset 0 and truncates the file to their length. Owner, mode and inode stay. False
  // when the block stopped or the file could not be read or written. A file longer than
  // `length` is refused with EFBIG before the block runs: rewriting only its first part would
  // cut off the rest.
  virtual bool replaceDataWithURL(const platform::URL& url, size_t length, platform::NSError* error,
                                  const ReplacementBlock& block) const;
};

} // namespace tasks
