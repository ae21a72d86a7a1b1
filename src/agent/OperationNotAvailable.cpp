#include "agent/OperationNotAvailable.h"

#include "platform/foundation/NSError.h"

#include <string>

namespace agent {

void throwOperationNotAvailable(std::string_view requestName) {
  throw platform::NSErrorException(platform::NSError(
      kOperationNotAvailableErrorDomain, 1,
      {{platform::NSLocalizedDescriptionKey, "The operation for " + std::string(requestName) +
                                                 " is not available in this agent yet."}}));
}

} // namespace agent
