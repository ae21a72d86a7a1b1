#include "agent/OperationHandlers.h"
#include "agent/OperationPipeline.h"
#include "api/TerminateRequest.h"
#include "operations/ProcessTermination.h"

namespace agent {

void registerTerminateHandler(ipc::XPCServerEngine& engine) {
  registerOperation<api::TerminateRequest>(engine, [](const api::TerminateRequest&) {
    // The exit runs on the main loop after this handler has returned.
    operations::scheduleTermination();
    return api::EmptyResponse{};
  });
}

} // namespace agent
