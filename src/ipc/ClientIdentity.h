#pragma once

#include <string>
#include <sys/types.h>

namespace ipc {

// Who a client is, as recorded when it passed the handshake: for audit and log lines.
struct ClientIdentity {
  pid_t pid = 0;
  uid_t uid = 0;
  std::string executable;        // the executable's path when it was judged
  std::string signingIdentifier; // the identifier its signature carries

  bool operator==(const ClientIdentity&) const = default;
};

// The identity for log lines: "client pid <N>, uid <U>, executable <path>" (the path escaped,
// "<gone>" when unknown); empty for an identity that names no process.
std::string peerLogText(const ClientIdentity& identity);

} // namespace ipc
