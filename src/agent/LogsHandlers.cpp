#include "agent/OperationHandlers.h"
#include "agent/OperationNotAvailable.h"
#include "api/Requests.h"

namespace agent {

// Not built into the agent yet: every request of this family fails as not available.
void registerLogsHandlers(ipc::XPCServerEngine& engine) {
  registerOperationNotAvailable<api::RemoveDiagnosticsLogsRequest>(engine);
  registerOperationNotAvailable<api::RemoveASLLogsRequest>(engine);
}

} // namespace agent
