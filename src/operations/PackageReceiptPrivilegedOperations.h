#pragma once

#include "api/EmptyResponse.h"

#include <string>

namespace operations {

// Error domain of a package receipt that could not be forgotten.
inline constexpr const char* kPackageReceiptErrorDomain =
    "com.lumora.privilegedOperations.packageReceipt";

// Makes the installer database forget a package, so that a client that removed an
// application's files can also remove the record of its installation. Stateless: any number
// of requests may run at once.
class PackageReceiptPrivilegedOperations {
public:
  static constexpr const char* kPkgutilPath = "/usr/sbin/pkgutil";

  // Runs pkgutil "--forget" `packageID` (the identifier as one argument, no shell). Throws an
  // api::PrivilegedOperationError in kPackageReceiptErrorDomain whose code is the tool's exit
  // status unless it is 0; a tool that cannot be run at all fails with code -1.
  api::EmptyResponse removePackageReceipt(const std::string& packageID) const;

  // Prefixes the tool path with `root` (tests run a stub tool).
  void setToolRootForTest(std::string root) { toolRoot_ = std::move(root); }

private:
  std::string toolRoot_;
};

} // namespace operations
