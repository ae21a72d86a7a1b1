#include "ipc/XPCListener.h"

#include "ipc/Logger.h"
#include "ipc/XPCConnection.h"

namespace ipc {

std::unique_ptr<XPCListener> XPCListener::forMachService(const std::string& serviceName) {
  platform::NSError error;
  auto listener = platform::xpc::Listener::forService(serviceName, {}, &error);
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
    : listener_(std::move(listener)), serviceName_(std::move(serviceName)) {
  if (!listener_) {
    return;
  }
  // The handler holds copies of the subject handle and the name, never the wrapper, so that a
  // connection accepted while the wrapper goes away touches nothing freed.
  listener_->setConnectionHandler([connections = connections_, name = serviceName_](
                                      std::shared_ptr<platform::xpc::Connection> transport) {
    accept(connections, name, std::move(transport));
  });
}

XPCListener::~XPCListener() {
  invalidate();
}

void XPCListener::accept(
    const platform::reactive::PassthroughSubject<AnyXPCConnection>& connections,
    const std::optional<std::string>& serviceName,
    std::shared_ptr<platform::xpc::Connection> transport) {
  auto connection = XPCConnection::create(
      std::move(transport),
      XPCConnection::Options{.verifyPeerIdentity = true, .serviceName = serviceName});
  if (const auto& failure = connection->identityFailure()) {
    // Fail closed: a peer whose identity cannot be pinned (out of descriptors, in the middle of
    // an exec, gone already) is never served.
    Logger::error([&] {
      return connection->description() + " - refused, client pid <" +
             std::to_string(connection->peerProcessIdentifier()) +
             ">: its identity cannot be recorded: " + *failure;
    });
    connection->invalidate();
    return;
  }
  Logger::info([&] {
    return connection->description() + " - accepted, client pid <" +
           std::to_string(connection->peerProcessIdentifier()) +
           ">, service: " + serviceName.value_or("<unknown>");
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
