#include "agent/OperationHandlers.h"
#include "agent/OperationNotAvailable.h"
#include "api/Requests.h"

namespace agent {

// Not built into the agent yet: every request of this family fails as not available.
void registerBrokenStartupItemsHandlers(ipc::XPCServerEngine& engine) {
  registerOperationNotAvailable<api::RemoveBrokenStartupItemRequests>(engine);
}

} // namespace agent
