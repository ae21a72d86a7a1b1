#include "ipc/client/UnreachableConnection.h"

#include "ipc/SecurityErrors.h"
#include "platform/reactive/Empty.h"
#include "platform/reactive/Just.h"

namespace ipc {

using platform::reactive::AnyPublisher;
using platform::reactive::Fail;

AnyPublisher<XPCRequest> UnreachableConnection::requests() {
  return Fail<XPCRequest>(error());
}

AnyPublisher<XPCConnectionError> UnreachableConnection::errors() {
  return platform::reactive::Just(error());
}

XPCCredentials UnreachableConnection::credentials() {
  throw SecurityErrors::credentialsNotAvailable();
}

AnyPublisher<XPCMessage> UnreachableConnection::send(XPCMessage, std::chrono::milliseconds) {
  return Fail<XPCMessage>(error());
}

} // namespace ipc
