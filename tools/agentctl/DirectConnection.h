#pragma once

#include "platform/foundation/Base64.h"
#include "platform/xpc/Connection.h"

#include <chrono>
#include <memory>
#include <optional>
#include <string>

namespace agentctl {

// Talking to the agent below the engine, on the transport itself: any bytes can be sent, and a
// reply comes back as one frame, its descriptors together with its bytes. (Through the engine,
// descriptors are only at hand on the thread that received the frame, which is not always the
// thread that delivers the reply to its subscriber.)

// A connected socket to the agent, or -1 with `failure` set. Not close-on-exec, so that it can
// be handed to a program started anew.
int connectSocket(std::string& failure);

// A transport connection on a close-on-exec duplicate of `fd`, activated; null with `failure`
// set when it cannot be used or the server end is not root.
std::shared_ptr<platform::xpc::Connection> adoptSocket(int fd, std::string& failure);

// Sends `bytes` as one call and gives the reply frame; none when the connection ended or no
// reply came within `limit`.
std::optional<platform::xpc::Message> exchangeFrame(platform::xpc::Connection& connection,
                                                    platform::Bytes bytes,
                                                    std::chrono::milliseconds limit);

// Reports a missing reply (time-out or ended connection) and gives the exit code.
int reportNoReply(const platform::xpc::Connection& connection);

// The handshake with this program's own payload; the exit code of its failure, or none.
std::optional<int> performHandshake(platform::xpc::Connection& connection);

} // namespace agentctl
