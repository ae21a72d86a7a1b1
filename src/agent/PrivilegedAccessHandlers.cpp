#include "agent/OperationHandlers.h"
#include "agent/OperationNotAvailable.h"
#include "api/Requests.h"

namespace agent {

// Not built into the agent yet: every request of this family fails as not available.
void registerPrivilegedAccessHandlers(ipc::XPCServerEngine& engine) {
  registerOperationNotAvailable<api::PrivilegedAccessTaskRequest>(engine);
}

} // namespace agent
