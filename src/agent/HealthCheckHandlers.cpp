#include "agent/OperationHandlers.h"
#include "agent/OperationPipeline.h"
#include "api/HealthCheckRequest.h"
#include "operations/HealthCheckPrivilegedOperations.h"

#include <memory>

namespace agent {

void registerHealthCheckHandlers(ipc::XPCServerEngine& engine) {
  auto healthCheck = std::make_shared<const operations::HealthCheckPrivilegedOperations>();
  registerOperation<api::HealthCheckRequest>(
      engine, [healthCheck](const api::HealthCheckRequest&) { return healthCheck->healthCheck(); });
}

} // namespace agent
