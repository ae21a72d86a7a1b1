#include "agent/OperationHandlers.h"
#include "agent/OperationPipeline.h"
#include "api/Requests.h"
#include "operations/UserAuthorizationPrivilegedOperations.h"

#include <memory>

namespace agent {

void registerUserAuthorizationHandlers(ipc::XPCServerEngine& engine) {
  auto authorization = std::make_shared<const operations::UserAuthorizationPrivilegedOperations>();
  registerOperation<api::AddUserToAllowedList>(
      engine, [authorization](const api::AddUserToAllowedList& request) {
        return authorization->addUserToAllowedList(request.uid);
      });
}

} // namespace agent
