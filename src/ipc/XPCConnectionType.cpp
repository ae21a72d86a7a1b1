#include "ipc/XPCConnectionType.h"

#include "ipc/XPCProtocolError.h"
#include "platform/reactive/Await.h"

#include <exception>

namespace ipc {

XPCMessage XPCConnectionType::sendAndWait(XPCMessage message, std::chrono::milliseconds timeout) {
  // send() fails by itself after `timeout`; the wait's own limit only guards against a
  // connection that never ends its publisher.
  auto outcome = platform::reactive::await(send(std::move(message), timeout),
                                           timeout + std::chrono::seconds(1));
  if (outcome.error) {
    std::rethrow_exception(outcome.error);
  }
  if (outcome.values.empty()) {
    throw XPCProtocolError::timeout();
  }
  return std::move(outcome.values.front());
}

} // namespace ipc
