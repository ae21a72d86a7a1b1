#pragma once

#include "ipc/ClientIdentity.h"
#include "ipc/XPCConnectionType.h"
#include "platform/reactive/Cancellable.h"
#include "platform/reactive/CurrentValueSubject.h"
#include "platform/reactive/PassthroughSubject.h"

#include <map>
#include <mutex>
#include <optional>
#include <set>

namespace ipc {

// A connection passing the handshake (connect) or ending (disconnect).
struct ClientConnectionEvent {
  enum class Kind { connect, disconnect };
  XPCIdentifier<XPCConnectionType> client;
  Kind kind;
  bool operator==(const ClientConnectionEvent&) const = default;
};

// Who has passed the handshake. Events are folded synchronously into the set of handshaken
// connections, so that the set is current as soon as the sending call returns.
class ConnectedClients : public std::enable_shared_from_this<ConnectedClients> {
public:
  using ClientSet = std::set<platform::UUID>;

  static std::shared_ptr<ConnectedClients> create();

  // Held around each send of an event and around membership tests (not recursive).
  std::mutex& lock() { return lock_; }
  const platform::reactive::PassthroughSubject<ClientConnectionEvent>& eventsSubject() const {
    return eventsSubject_;
  }
  const platform::reactive::CurrentValueSubject<ClientSet>& clientsSubject() const {
    return clientsSubject_;
  }

  // Who each handshaken client is (recorded at its handshake, forgotten when it ends).
  void recordIdentity(const platform::UUID& client, ClientIdentity identity);
  void forgetIdentity(const platform::UUID& client);
  std::optional<ClientIdentity> identity(const platform::UUID& client) const;

private:
  ConnectedClients() : clientsSubject_(ClientSet()) {}
  void bind();

  std::mutex lock_;
  platform::reactive::CancellableSet disposeBag_;
  platform::reactive::PassthroughSubject<ClientConnectionEvent> eventsSubject_;
  platform::reactive::CurrentValueSubject<ClientSet> clientsSubject_;
  mutable std::mutex identitiesLock_;
  std::map<platform::UUID, ClientIdentity> identities_;
};

} // namespace ipc
