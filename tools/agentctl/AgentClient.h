#pragma once

#include "StartDiagnosis.h"
#include "ipc/client/ConnectableClient.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace agentctl {

// The agent's service name.
inline constexpr std::string_view kAgentServiceName = "com.quillby.Lumora5.Agent";

// The agent's socket: "/var/run/" followed by the service name, unless setAgentSocketPath
// named another (agentctl --socket PATH). The socket must still belong to root.
const std::string& agentSocketPath();
void setAgentSocketPath(std::string path);

// This program's version, from its embedded Info property list; none without one.
std::optional<std::string> ownVersion();

// A connectable client of the agent that connects on the first request. Every connection
// attempt records in `diagnosis` why it failed, if it does.
std::shared_ptr<ipc::ConnectableClient> makeAgentClient(std::shared_ptr<StartDiagnosis> diagnosis);

} // namespace agentctl
