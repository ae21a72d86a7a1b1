#include "ipc/client/ConnectionState.h"

namespace ipc {

void ConnectionStateIdle::didEnter() {
  if (auto client = context()) {
    client->dropConnection();
  }
}
void ConnectionStateIdle::connect() {
  transition<ConnectionStateConnecting>();
}

void ConnectionStateConnecting::didEnter() {
  if (auto client = context()) {
    client->startConnection();
  }
}
void ConnectionStateConnecting::disconnect() {
  transition<ConnectionStateIdle>();
}
void ConnectionStateConnecting::connectionFailed(const std::exception_ptr&) {
  transition<ConnectionStateFailed>();
}
void ConnectionStateConnecting::connectionEstablished() {
  transition<ConnectionStateEstablished>();
}

void ConnectionStateEstablished::disconnect() {
  transition<ConnectionStateIdle>();
}
void ConnectionStateEstablished::connectionFailed(const std::exception_ptr&) {
  transition<ConnectionStateFailed>();
}

void ConnectionStateFailed::didEnter() {
  if (auto client = context()) {
    client->dropConnection();
  }
}
void ConnectionStateFailed::connect() {
  transition<ConnectionStateConnecting>();
}
void ConnectionStateFailed::disconnect() {
  transition<ConnectionStateIdle>();
}

} // namespace ipc
