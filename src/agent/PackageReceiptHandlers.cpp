#include "agent/OperationHandlers.h"
#include "agent/OperationPipeline.h"
#include "api/Requests.h"
#include "operations/PackageReceiptPrivilegedOperations.h"

#include <memory>

namespace agent {

void registerPackageReceiptHandlers(ipc::XPCServerEngine& engine) {
  auto receipts = std::make_shared<const operations::PackageReceiptPrivilegedOperations>();
  registerOperation<api::RemovePackageReceiptRequest>(
      engine, [receipts](const api::RemovePackageReceiptRequest& request) {
        return receipts->removePackageReceipt(request.packageID);
      });
}

} // namespace agent
