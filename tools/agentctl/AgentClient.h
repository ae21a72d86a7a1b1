#pragma once

#include "StartDiagnosis.h"
#include "ipc/HandshakePayload.h"
#include "ipc/client/ConnectableClient.h"

#include <memory>
#include <string_view>

namespace agentctl {

// The agent's service name.
inline constexpr std::string_view kAgentServiceName = "com.quillby.Lumora5.Agent";

// What this program says about itself in the handshake: the folder of its executable, and the
// bundle identifier and version of its embedded Info property list; no bookmark.
ipc::HandshakePayload ownHandshakePayload();

// A connectable client of the agent that connects on the first request. Every connection
// attempt records in `diagnosis` why it failed, if it does.
std::shared_ptr<ipc::ConnectableClient> makeAgentClient(std::shared_ptr<StartDiagnosis> diagnosis);

} // namespace agentctl
