#include "operations/LipoPrivilegedOperations.h"

#include "lipo/LipoErrors.h"
#include "operations/FileSystemPrivilegedOperations.h"

namespace operations {

LipoPrivilegedOperations::LipoPrivilegedOperations()
    : LipoPrivilegedOperations(std::make_shared<const lipo::LRLipo>()) {}

LipoPrivilegedOperations::LipoPrivilegedOperations(std::shared_ptr<const lipo::LRLipo> lipo)
    : lipo_(std::move(lipo)) {}

bool LipoPrivilegedOperations::removeUnnecessaryThinFiles(
    const platform::URL& url, const std::string& compatibleArchitecture) const {
  const auto path = requestPath(url);
  if (!path) {
    throw platform::NSErrorException(unusablePathError(url));
  }
  platform::NSError error;
  if (lipo_->removeUnnecessaryThinFilesFromBinaryAtPath(*path, compatibleArchitecture, &error)) {
    return true;
  }
  if (error.domain().empty()) {
    // A failure must never reach the client as success, even if the library left no error.
    error = platform::NSError(lipo::LipoErrorDomain, 0);
  }
  throw platform::NSErrorException(std::move(error));
}

} // namespace operations
