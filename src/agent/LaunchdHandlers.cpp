#include "agent/OperationHandlers.h"
#include "agent/OperationPipeline.h"
#include "api/RemoveLaunchAgentRequest.h"
#include "operations/LaunchdPrivilegedOperations.h"

#include <memory>

namespace agent {

void registerLaunchdHandlers(ipc::XPCServerEngine& engine) {
  auto launchd = std::make_shared<const operations::LaunchdPrivilegedOperations>();
  registerOperation<api::RemoveLaunchAgentRequest>(
      engine, [launchd](const api::RemoveLaunchAgentRequest& request) {
        return launchd->removeLaunchAgent(request.url);
      });
}

} // namespace agent
