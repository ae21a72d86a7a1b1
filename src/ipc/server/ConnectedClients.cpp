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

} // namespace ipc
