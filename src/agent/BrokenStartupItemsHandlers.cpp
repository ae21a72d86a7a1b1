#include "agent/OperationHandlers.h"
#include "agent/OperationPipeline.h"
#include "api/RemoveBrokenStartupItemRequests.h"
#include "operations/BrokenStartupItemsPrivilegedOperations.h"

#include <memory>

namespace agent {

void registerBrokenStartupItemsHandlers(ipc::XPCServerEngine& engine) {
  auto brokenStartupItems =
      std::make_shared<const operations::BrokenStartupItemsPrivilegedOperations>();
  registerOperation<api::RemoveBrokenStartupItemRequests>(
      engine, [brokenStartupItems](const api::RemoveBrokenStartupItemRequests& request) {
        return brokenStartupItems->removeBrokenStartupItem(request.url);
      });
}

} // namespace agent
