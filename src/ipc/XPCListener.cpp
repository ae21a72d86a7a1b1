#include "ipc/XPCListener.h"

#include "ipc/ConnectionQuota.h"
#include "ipc/Logger.h"
#include "ipc/XPCConnection.h"
#include "platform/dispatch/DispatchQueue.h"

namespace ipc {

namespace {

// The transport's diagnostics (refused and oversized frames, failed connections) go to the
// framework's log.
platform::xpc::TransportOptions loggedTransportOptions() {
  platform::xpc::TransportOptions options;
  options.logger = [](platform::xpc::TransportLogLevel level, const std::string& text) {
    switch (level) {
    case platform::xpc::TransportLogLevel::error:
      Logger::error([&] { return text; });
      break;
    case platform::xpc::TransportLogLevel::info:
      Logger::info([&] { return text; });
      break;
    case platform::xpc::TransportLogLevel::debug:
      Logger::debug([&] { return text; });
      break;
    }
  };
  return options;
}

} // namespace

std::unique_ptr<XPCListener> XPCListener::forMachService(const std::string& serviceName) {
  platform::NSError error;
  auto listener =
      platform::xpc::Listener::forService(serviceName, loggedTransportOptions(), &error);
  if (!listener) {
    // An invalid name cannot be listened on: the listener never accepts, and its activation
    // reports why.
    Logger::error(
        [&] { return "Cannot listen on service " + serviceName + ": " + error.description(); });
    auto unusable = std::make_unique<XPCListener>(nullptr, serviceName);
    unusable->failure_ = error;
    return unusable;
  }
  return std::make_unique<XPCListener>(std::move(listener), serviceName);
}

XPCListener::XPCListener(std::unique_ptr<platform::xpc::Listener> listener,
                         std::optional<std::string> serviceName)
    : listener_(std::move(listener)), serviceName_(std::move(serviceName)),
      quota_(std::make_shared<ConnectionQuota>()) {
  if (!listener_) {
    return;
  }
  // The handler holds copies of the subject handle and the name, never the wrapper, so that a
  // connection accepted while the wrapper goes away touches nothing freed.
  listener_->setConnectionHandler([connections = connections_, name = serviceName_, quota = quota_](
                                      std::shared_ptr<platform::xpc::Connection> transport) {
    accept(connections, name, quota, std::move(transport));
  });
}

XPCListener::~XPCListener() {
  invalidate();
}

void XPCListener::accept(
    const platform::reactive::PassthroughSubject<AnyXPCConnection>& connections,
    const std::optional<std::string>& serviceName, const std::shared_ptr<ConnectionQuota>& quota,
    std::shared_ptr<platform::xpc::Connection> transport) {
  auto connection = XPCConnection::create(
      std::move(transport),
      XPCConnection::Options{.verifyPeerIdentity = true, .serviceName = serviceName});
  if (const auto& failure = connection->identityFailure()) {
    // Fail closed: a peer whose identity cannot be pinned (out of descriptors, in the middle of
    // an exec, gone already) is never served.
    Logger::error([&] {
      return connection->description() +
             " - refused: its identity cannot be recorded: " + *failure + ", " +
             peerLogText(connection->clientIdentity());
    });
    connection->invalidate();
    return;
  }
  Logger::info([&] {
    return connection->description() + " - accepted, client pid <" +
           std::to_string(connection->peerProcessIdentifier()) +
           ">, service: " + serviceName.value_or("<unknown>");
  });
  const auto admission = quota->admit(connection, connection->peerUserIdentifier());
  for (const auto& [evicted, reason] : admission.evicted) {
    if (!evicted) {
      continue;
    }
    Logger::error([&] {
      return evicted->description() + " - closed: " + reason + ", " +
             peerLogText(evicted->clientIdentity());
    });
    evicted->invalidate();
  }
  if (!admission.admitted) {
    Logger::error([&] {
      return connection->description() + " - refused: " + admission.refusal + ", " +
             peerLogText(connection->clientIdentity());
    });
    connection->invalidate();
    return;
  }
  // A peer that has not passed the handshake in time holds its descriptor no longer.
  platform::dispatch::DispatchQueue::global().asyncAfter(
      XPCConnection::kHandshakeDeadline,
      [weakConnection = std::weak_ptr<XPCConnection>(connection)] {
        auto late = weakConnection.lock();
        if (!late || late->isHandshaken()) {
          return;
        }
        Logger::error([&] {
          return late->description() + " - closed: no handshake within " +
                 std::to_string(XPCConnection::kHandshakeDeadline.count()) + " s, " +
                 peerLogText(late->clientIdentity());
        });
        late->invalidate();
      });
  connections.send(connection);
}

void XPCListener::activate() {
  if (!listener_) {
    return; // the name was refused; failure_ says why
  }
  platform::NSError error;
  if (!listener_->activate(&error)) {
    Logger::error([&] { return "Failed to activate the listener: " + error.description(); });
    failure_ = error;
    return;
  }
  failure_.reset();
}

void XPCListener::invalidate() {
  if (listener_) {
    listener_->invalidate();
  }
}

} // namespace ipc
