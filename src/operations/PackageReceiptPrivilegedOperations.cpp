#include "operations/PackageReceiptPrivilegedOperations.h"

#include "api/PrivilegedOperationError.h"
#include "utilities/LRTaskRunner.h"

namespace operations {

api::EmptyResponse
PackageReceiptPrivilegedOperations::removePackageReceipt(const std::string& packageID) const {
  utilities::LRTaskRunner taskRunner;
  // The runner reports a tool it cannot execute as -1, so a missing pkgutil is a failure and
  // never passes for a forgotten receipt.
  const int32_t status = taskRunner.launchTaskAndGetTermStatusWithCmd(toolRoot_ + kPkgutilPath,
                                                                      {"--forget", packageID});
  if (status == 0) {
    return api::EmptyResponse{};
  }
  throw api::PrivilegedOperationError(
      status, kPackageReceiptErrorDomain,
      "Failed to perform package remove operation for package with id: " + packageID + ".");
}

} // namespace operations
