#pragma once

#include <cstddef>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <vector>

namespace ipc {

class XPCConnection;

// Bounds the connections that peers other than root hold, so that no local user can use up the
// agent's descriptors or crowd out the handshakes of others:
// - at most kMaxAwaitingHandshake of their connections wait for the handshake at once, and at
//   most kMaxAwaitingHandshakePerUser of one user; a new one pushes the oldest out;
// - one user holds at most kMaxConnectionsPerUser connections. At the cap, the user's oldest
//   connection that awaits its handshake makes room; with none, the new one is refused.
// Root's connections are not counted: root can stop the agent anyway, and its clients must
// never be pushed out by strangers. Thread-safe.
class ConnectionQuota {
public:
  static constexpr size_t kMaxAwaitingHandshake = 64;
  static constexpr size_t kMaxAwaitingHandshakePerUser = 16;
  static constexpr size_t kMaxConnectionsPerUser = 64;

  struct Admission {
    bool admitted = true;
    std::string refusal; // why a connection was refused
    // Connections that must be closed to make room, each with the reason.
    std::vector<std::pair<std::shared_ptr<XPCConnection>, std::string>> evicted;
  };

  // Counts `connection` of peer user `uid`, or refuses it.
  Admission admit(const std::shared_ptr<XPCConnection>& connection, uid_t uid);

private:
  using Entries = std::deque<std::weak_ptr<XPCConnection>>;
  static void forgetFinished(Entries& entries, bool keepHandshaken);
  static std::shared_ptr<XPCConnection> takeOldestAwaiting(Entries& entries);
  static size_t countAwaiting(const Entries& entries);

  std::mutex mutex_;
  Entries awaiting_;                // every user's connections awaiting the handshake
  std::map<uid_t, Entries> byUser_; // every open connection, per user (root not tracked)
};

} // namespace ipc
