#include "agent/OperationHandlers.h"
#include "agent/OperationNotAvailable.h"
#include "api/Requests.h"

namespace agent {

// Not built into the agent yet: every request of this family fails as not available.
void registerLaunchdHandlers(ipc::XPCServerEngine& engine) {
  registerOperationNotAvailable<api::RemoveLaunchAgentRequest>(engine);
}

} // namespace agent
