#pragma once

#include "agent/OperationPipeline.h"
#include "ipc/PayloadTypeName.h"

#include <string_view>

namespace agent {

// The domain of the error that a request gets while its operation is not built into the agent.
inline constexpr const char* kOperationNotAvailableErrorDomain =
    "PrivilegedAgent.OperationNotAvailable";

// Throws the error that tells the client `requestName` cannot be served by this agent yet.
[[noreturn]] void throwOperationNotAvailable(std::string_view requestName);

// Registers request type Q with an operation that always fails as not available, so that a
// client gets a clear failure result instead of a missing-handler error.
template <class Q> void registerOperationNotAvailable(ipc::XPCServerEngine& engine) {
  registerOperation<Q>(engine, [](const Q&) -> typename Q::ResponseType {
    throwOperationNotAvailable(ipc::payloadTypeName<Q>());
  });
}

} // namespace agent
