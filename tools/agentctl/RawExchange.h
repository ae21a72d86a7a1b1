#pragma once

#include <optional>
#include <string>

namespace agentctl {

// `agentctl raw`: talks to the agent below the engine, so that any bytes can be sent as one
// message, valid JSON or not.
struct RawOptions {
  bool handshake = true;
  // After the handshake, start this program anew and send the bytes from the new program on
  // the inherited connection (shows that the agent judges the process behind every message).
  bool execAfterHandshake = false;
  // The connection inherited from the program that exec'd this one.
  std::optional<int> inheritedSocket;
  std::string bytes;
};

// Connects (or takes the inherited connection), performs the handshake unless told not to,
// sends the bytes as one message and prints the reply's bytes. Gives the exit code.
int runRawExchange(const RawOptions& options);

} // namespace agentctl
