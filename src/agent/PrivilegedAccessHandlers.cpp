#include "agent/OperationHandlers.h"
#include "agent/OperationPipeline.h"
#include "api/PrivilegedAccessTaskRequest.h"
#include "ipc/ReplyAttachments.h"
#include "operations/PrivilegedAccessPrivilegedOperations.h"
#include "platform/foundation/NSError.h"

#include <cerrno>
#include <memory>

namespace agent {

void registerPrivilegedAccessHandlers(ipc::XPCServerEngine& engine) {
  auto operations = std::make_shared<const operations::PrivilegedAccessPrivilegedOperations>();
  registerOperation<api::PrivilegedAccessTaskRequest>(
      engine, [operations](const api::PrivilegedAccessTaskRequest& request) {
        auto reply = operations->performTask(request.taskData);
        // An archive that refers to descriptors is useless without them: refuse it rather
        // than send a result whose handles the client cannot open.
        if (!reply.fileDescriptors.empty() && !ipc::ReplyAttachments::available()) {
          throw platform::NSErrorException(platform::NSError::posix(ENOTSUP));
        }
        for (auto& descriptor : reply.fileDescriptors) {
          if (!ipc::ReplyAttachments::attach(platform::xpc::UniqueFd(descriptor.release()))) {
            throw platform::NSErrorException(platform::NSError::posix(ENOTSUP));
          }
        }
        return std::move(reply.resultData);
      });
}

} // namespace agent
