#pragma once

#include "ipc/XPCConnectionType.h"
#include "platform/foundation/JSON.h"

#include <functional>
#include <optional>
#include <string>

namespace ipc {

using ConnectionID = XPCIdentifier<XPCConnectionType>;

// A simple handler that answers at once, on the thread that received the request, with no
// publisher in between: the request payload's JSON in, the response's JSON out. Whatever it
// throws becomes the error reply that the publisher path would send for the same failure.
struct DirectRequestHandler {
  using Answer =
      std::function<platform::json::Value(const platform::json::Value& request, ConnectionID)>;

  Answer answer;
  // The wire type name of the response payload; none for a bare acknowledgement (the answer's
  // value is then ignored).
  std::optional<std::string> responseTypeName;
};

} // namespace ipc
