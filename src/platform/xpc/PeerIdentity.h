#pragma once

#include "platform/foundation/NSError.h"
#include "platform/xpc/UniqueFd.h"

#include <optional>
#include <sys/types.h>

namespace platform::xpc {

// The peer process as the kernel reports it for a connected Unix socket (SO_PEERCRED): taken
// when the peer connected, not when asked.
struct PeerCredentials {
  pid_t pid = 0;
  uid_t uid = static_cast<uid_t>(-1);
  gid_t gid = static_cast<gid_t>(-1);

  bool operator==(const PeerCredentials&) const = default;
};

// The identity of the peer: its credentials plus a pidfd that pins the very process that
// connected, so that a pid reused by another process is told apart.
class PeerIdentity {
public:
  // Reads SO_PEERCRED and SO_PEERPIDFD of a connected socket. Where the kernel lacks
  // SO_PEERPIDFD, falls back to pidfd_open(pid), which is exact only if the peer has not
  // exited in between (call it right after accept).
  static std::optional<PeerIdentity> ofSocket(int socket, NSError* error);

  PeerIdentity() = default;
  PeerIdentity(PeerCredentials credentials, UniqueFd pidfd)
      : credentials_(credentials), pidfd_(std::move(pidfd)) {}

  const PeerCredentials& credentials() const { return credentials_; }
  // Borrowed; -1 when the kernel gave none.
  int pidfd() const { return pidfd_.get(); }

  // Whether the process that connected still runs. While it does its pid cannot be reused, so
  // anything read through /proc/<pid> between two true answers belongs to that process.
  // False without a pidfd: identity cannot be proven then.
  bool isSameProcessAlive() const;

private:
  PeerCredentials credentials_;
  UniqueFd pidfd_;
};

} // namespace platform::xpc
