#include "tasks/processes/ProcessTaskExecutors.h"

#include <optional>

namespace tasks {

ResultPtr performWithSignalling(const KLVPrivilegedAccessProcessTerminatorTask& task,
                                ProcessSignalling signalling) {
  platform::NSError error;
  const bool killed = KLVProcessManagementService(std::move(signalling))
                          .killProcessWithIdentifier(task.processIdentifier(), &error);
  return KLVResultObject::resultWithStatus(killed, error.domain().empty() ? std::nullopt
                                                                          : std::optional(error));
}

namespace {

ResultPtr terminateProcess(KLVPrivilegedAccessProcessTerminatorTask& task) {
  return performWithSignalling(task, ProcessSignalling());
}

} // namespace

void registerProcessTaskExecutors(TaskExecutors& executors) {
  executors.setExecutor<KLVPrivilegedAccessProcessTerminatorTask, terminateProcess>();
}

} // namespace tasks
