#pragma once

#include "platform/foundation/NSError.h"
#include "platform/xpc/Connection.h"
#include "platform/xpc/TransportOptions.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <sys/types.h>

namespace platform::xpc {

// Listens on a Unix stream socket and hands every accepted connection, not yet activated, to
// the connection handler. Nothing is refused here: authorization is the handshake's job.
//
// The socket file is made with mode 0666 (anyone may connect); a stale socket file left at the
// path is replaced, anything else there is refused. A process that the service manager started
// on demand adopts the socket it was handed for the path instead (SocketActivation.h). Invalidation
// (or destruction) stops accepting and removes the socket file if it is still ours. The handler
// runs on pool threads, possibly several at once, and must not block.
class Listener {
public:
  using ConnectionHandler = std::function<void(std::shared_ptr<Connection> connection)>;

  // A listener for service `serviceName` at "/var/run/" + name; none for an invalid name.
  static std::unique_ptr<Listener> forService(std::string_view serviceName,
                                              TransportOptions options, NSError* error);
  // A listener at `socketPath` (tests use private paths).
  Listener(std::string socketPath, TransportOptions options);
  ~Listener();
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;

  // Fixed before activate().
  void setConnectionHandler(ConnectionHandler handler);
  // Creates the socket file and starts accepting.
  bool activate(NSError* error);
  void invalidate();

  const std::string& socketPath() const { return socketPath_; }

private:
  class Acceptor;
  // Watches `socket`, listening already; `ownFile` is the socket file made here, if any.
  bool startAccepting(UniqueFd socket, std::optional<struct stat> ownFile, NSError* error);
  std::string socketPath_;
  TransportOptions options_;
  ConnectionHandler handler_;
  std::shared_ptr<Acceptor> acceptor_;
};

} // namespace platform::xpc
