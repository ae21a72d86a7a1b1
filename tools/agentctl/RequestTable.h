#pragma once

#include "StartDiagnosis.h"
#include "ipc/client/ConnectableClient.h"
#include "platform/foundation/JSON.h"

#include <chrono>
#include <optional>
#include <string_view>
#include <vector>

namespace agentctl {

// How a request is sent, beyond its body.
struct SendOptions {
  // For a sequence: cancel it on the agent after this long, then exit 0 (for trying the
  // agent's cancellation; a sequence that ends earlier ends normally).
  std::optional<std::chrono::milliseconds> cancelAfter;
};

// One request type that the tool can send by name.
struct RequestCommand {
  using Runner = int (*)(ipc::ConnectableClient& client, const StartDiagnosis& diagnosis,
                         const platform::json::Value& body, const SendOptions& options);

  std::string_view name; // the type name without its module, e.g. "HealthCheckRequest"
  bool isSequence;       // answered with a stream of elements rather than one result
  // Decodes `body` into the request record, sends it, prints the answer and gives the exit
  // code. A body that does not decode is reported before anything is sent.
  Runner run;
};

// Every request type of the agent's catalog.
const std::vector<RequestCommand>& requestCommands();
// The command of `name`, or null.
const RequestCommand* findRequestCommand(std::string_view name);

} // namespace agentctl
