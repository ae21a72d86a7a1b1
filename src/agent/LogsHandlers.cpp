#include "agent/OperationHandlers.h"
#include "agent/OperationPipeline.h"
#include "api/Requests.h"
#include "operations/LogsPrivilegedOperations.h"
#include "platform/log/OSLog.h"

#include <memory>

namespace agent {

void registerLogsHandlers(ipc::XPCServerEngine& engine) {
  // Failures are written at error level to the agent's own log.
  auto logs =
      std::make_shared<const operations::LogsPrivilegedOperations>([](std::string_view line) {
        static const platform::OSLog log("PrivilegedAgent", "Agent");
        log.error(line);
      });
  registerOperation<api::RemoveDiagnosticsLogsRequest>(
      engine,
      [logs](const api::RemoveDiagnosticsLogsRequest&) { return logs->removeDiagnosticsLogs(); });
  registerOperation<api::RemoveASLLogsRequest>(
      engine, [logs](const api::RemoveASLLogsRequest&) { return logs->removeASLLogs(); });
}

} // namespace agent
