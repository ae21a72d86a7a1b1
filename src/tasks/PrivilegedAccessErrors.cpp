#include "tasks/PrivilegedAccessErrors.h"

namespace tasks {

platform::NSError taskNotAvailableError(const std::string& taskIdentifier) {
  return platform::NSError(
      kKLVPrivilegedAccessErrorDomain, kKLVPrivilegedAccessTaskNotAvailableErrorCode,
      {{platform::NSLocalizedDescriptionKey,
        "The task " + taskIdentifier + " is not available in this agent yet."}});
}

} // namespace tasks
