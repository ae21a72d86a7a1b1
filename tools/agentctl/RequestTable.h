#pragma once

#include "StartDiagnosis.h"
#include "ipc/client/ConnectableClient.h"
#include "platform/foundation/JSON.h"

#include <string_view>
#include <vector>

namespace agentctl {

// One request type that the tool can send by name.
struct RequestCommand {
  using Runner = int (*)(ipc::ConnectableClient& client, const StartDiagnosis& diagnosis,
                         const platform::json::Value& body);

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
