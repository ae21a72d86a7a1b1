#include "ipc/server/ConnectedClients.h"

namespace ipc {

std::shared_ptr<ConnectedClients> ConnectedClients::create() {
  auto clients = std::shared_ptr<ConnectedClients>(new ConnectedClients());
  clients->bind();
  return clients;
}

void ConnectedClients::bind() {
  std::weak_ptr<ConnectedClients> weakSelf = weak_from_this();
  auto clients = clientsSubject_;
  eventsSubject_
      .scan(ClientSet(),
            [weakSelf](ClientSet set, const ClientConnectionEvent& event) {
              if (weakSelf.expired()) {
                return set;
              }
              if (event.kind == ClientConnectionEvent::Kind::disconnect) {
                set.erase(event.client.rawValue);
              } else {
                set.insert(event.client.rawValue);
              }
              return set;
            })
      .sink([clients](const ClientSet& set) { clients.send(set); })
      .store(disposeBag_);
}

void ConnectedClients::recordIdentity(const platform::UUID& client, ClientIdentity identity) {
  std::lock_guard lock(identitiesLock_);
  identities_[client] = std::move(identity);
}

void ConnectedClients::forgetIdentity(const platform::UUID& client) {
  std::lock_guard lock(identitiesLock_);
  identities_.erase(client);
}

std::optional<ClientIdentity> ConnectedClients::identity(const platform::UUID& client) const {
  std::lock_guard lock(identitiesLock_);
  auto found = identities_.find(client);
  if (found == identities_.end()) {
    return std::nullopt;
  }
  return found->second;
}

} // namespace ipc
