#include "agent/OperationHandlers.h"
#include "agent/OperationNotAvailable.h"
#include "api/Requests.h"

namespace agent {

// Not built into the agent yet: every request of this family fails as not available.
void registerFileSystemHandlers(ipc::XPCServerEngine& engine) {
  registerOperationNotAvailable<api::FileExistsRequest>(engine);
  registerOperationNotAvailable<api::FileSizeRequest>(engine);
  registerOperationNotAvailable<api::RemoveFileRequest>(engine);
  registerOperationNotAvailable<api::TruncateFileRequest>(engine);
  registerOperationNotAvailable<api::FileMoveRequest>(engine);
  registerOperationNotAvailable<api::PrivilegedAgentRemoveRequest>(engine);
}

} // namespace agent
