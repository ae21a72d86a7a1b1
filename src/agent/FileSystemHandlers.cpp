#include "agent/OperationHandlers.h"
#include "agent/OperationPipeline.h"
#include "api/Requests.h"
#include "operations/FileSystemPrivilegedOperations.h"

#include <memory>

namespace agent {

void registerFileSystemHandlers(ipc::XPCServerEngine& engine) {
  auto fileSystem = std::make_shared<const operations::FileSystemPrivilegedOperations>();
  registerOperation<api::FileExistsRequest>(engine,
                                            [fileSystem](const api::FileExistsRequest& request) {
                                              return fileSystem->fileExists(request.url);
                                            });
  registerOperation<api::FileSizeRequest>(engine,
                                          [fileSystem](const api::FileSizeRequest& request) {
                                            return fileSystem->fileSize(request.url);
                                          });
  registerOperation<api::RemoveFileRequest>(engine,
                                            [fileSystem](const api::RemoveFileRequest& request) {
                                              return fileSystem->removeFile(request.url);
                                            });
  registerOperation<api::TruncateFileRequest>(
      engine, [fileSystem](const api::TruncateFileRequest& request) {
        return fileSystem->truncateFile(request.url);
      });
  registerOperation<api::FileMoveRequest>(
      engine, [fileSystem](const api::FileMoveRequest& request) {
        return fileSystem->moveFile(request.source, request.destination);
      });
  // The exit is scheduled on the main loop, so the reply goes out first.
  registerOperation<api::PrivilegedAgentRemoveRequest>(
      engine, [fileSystem](const api::PrivilegedAgentRemoveRequest&) {
        fileSystem->removePrivilegedAgent();
        return api::EmptyResponse{};
      });
}

} // namespace agent
