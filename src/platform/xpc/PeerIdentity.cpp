#include "platform/xpc/PeerIdentity.h"

#include "platform/posix/RetryOnInterrupt.h"
#include "platform/xpc/TransportError.h"

#include <cerrno>
#include <poll.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

// Older C library headers lack the option; the kernel has had it since 6.5.
#ifndef SO_PEERPIDFD
#define SO_PEERPIDFD 77
#endif

namespace platform::xpc {
namespace {

UniqueFd peerPidFd(int socket, pid_t pid) {
  int pidfd = -1;
  socklen_t length = sizeof(pidfd);
  if (::getsockopt(socket, SOL_SOCKET, SO_PEERPIDFD, &pidfd, &length) == 0 && pidfd >= 0) {
    return UniqueFd(pidfd);
  }
  // pidfds are always close-on-exec.
  const long opened = ::syscall(SYS_pidfd_open, pid, 0);
  return UniqueFd(opened >= 0 ? static_cast<int>(opened) : -1);
}

} // namespace

std::optional<PeerIdentity> PeerIdentity::ofSocket(int socket, NSError* error) {
  ucred credentials{};
  socklen_t length = sizeof(credentials);
  if (::getsockopt(socket, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0) {
    setError(error, makeTransportError(TransportErrorCode::ioFailure,
                                       "Peer credentials are not available.", errno));
    return std::nullopt;
  }
  PeerCredentials peer{credentials.pid, credentials.uid, credentials.gid};
  return PeerIdentity(peer, peerPidFd(socket, credentials.pid));
}

bool PeerIdentity::isSameProcessAlive() const {
  if (!pidfd_) {
    return false;
  }
  // A pidfd becomes readable when its process exits.
  pollfd poller{pidfd_.get(), POLLIN, 0};
  const int ready = posix::retryOnInterrupt([&] { return ::poll(&poller, 1, 0); });
  return ready == 0;
}

} // namespace platform::xpc
