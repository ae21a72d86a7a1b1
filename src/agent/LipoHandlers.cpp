#include "agent/OperationHandlers.h"
#include "agent/OperationPipeline.h"
#include "api/BinaryThinningRequest.h"
#include "operations/LipoPrivilegedOperations.h"

#include <memory>

namespace agent {

void registerLipoHandlers(ipc::XPCServerEngine& engine) {
  auto lipo = std::make_shared<const operations::LipoPrivilegedOperations>();
  registerOperation<api::BinaryThinningRequest>(
      engine, [lipo](const api::BinaryThinningRequest& request) {
        return lipo->removeUnnecessaryThinFiles(request.url, request.compatibleArchitecture);
      });
}

} // namespace agent
