#include "agent/OperationHandlers.h"
#include "agent/OperationPipeline.h"
#include "api/HealthCheckRequest.h"
#include "operations/HealthCheckPrivilegedOperations.h"

#include <memory>

namespace agent {

void registerHealthCheckHandlers(ipc::XPCServerEngine& engine) {
  auto healthCheck = std::make_shared<const operations::HealthCheckPrivilegedOperations>();
  // Not in the audit trail: it touches nothing, and monitors poll it.
  registerUnauditedOperation<api::HealthCheckRequest>(
      engine, [healthCheck](const api::HealthCheckRequest&) { return healthCheck->healthCheck(); });
}

} // namespace agent
