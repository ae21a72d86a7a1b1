#include "agent/OperationHandlers.h"

namespace agent {

void registerOperationHandlers(ipc::XPCServerEngine& engine) {
  // The order is the order in which the engine receives the registrations; no two request
  // type names collide, so it decides nothing but is kept stable.
  registerTerminateHandler(engine);
  registerHealthCheckHandlers(engine);
  registerFileSystemHandlers(engine);
  registerLogsHandlers(engine);
  registerLipoHandlers(engine);
  registerBrokenStartupItemsHandlers(engine);
  registerPackageReceiptHandlers(engine);
  registerMaintenanceHandlers(engine);
  registerPrivilegedAccessHandlers(engine);
  registerLaunchdHandlers(engine);
  registerUserAuthorizationHandlers(engine);
}

} // namespace agent
