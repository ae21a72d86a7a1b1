#include "ipc/server/XPCServerEngine.h"

#include "ipc/Logger.h"
#include "ipc/XPCListener.h"
#include "ipc/server/FailureRequestStrategy.h"
#include "platform/reactive/Empty.h"

#include <cerrno>

namespace ipc {

using platform::reactive::AnyPublisher;
using platform::reactive::Completion;
using platform::reactive::Empty;
using platform::reactive::Never;

namespace {

std::unique_ptr<XPCListenerType> makeListener(const XPCServerEngine::ServerType& type) {
  if (type.kind == XPCServerEngine::ServerType::Kind::xpcService) {
    // A service that lives inside an application listens under the program's own name.
    return XPCListener::forMachService(program_invocation_short_name);
  }
  return XPCListener::forMachService(type.name);
}

} // namespace

XPCServerEngine::Descriptor XPCServerEngine::Descriptor::privilegedHelper(
    std::string name, const std::vector<std::string>& requirements,
    std::optional<platform::security::RuntimePolicy> runtime,
    platform::security::ValidationOptions options) {
  AnyAuthorizationRule rule = std::make_shared<AlwaysRule>(false);
  for (const std::string& requirement : requirements) {
    // Both are always asked, the older rule first: every failing requirement logs its line.
    rule = either(rule, std::make_shared<CodeSigningRule>(requirement, options));
  }
  if (runtime) {
    rule = both(std::make_shared<HardenedRuntimeRule>(*runtime), rule);
  }
  return Descriptor{ServerType::privilegedHelper(std::move(name)), ClientRequirement{rule}};
}

std::shared_ptr<XPCServerEngine>
XPCServerEngine::create(Descriptor descriptor, std::unique_ptr<XPCListenerType> listener) {
  auto engine = std::shared_ptr<XPCServerEngine>(
      new XPCServerEngine(std::move(descriptor), std::move(listener)));
  engine->bindListener();
  return engine;
}

XPCServerEngine::XPCServerEngine(Descriptor descriptor, std::unique_ptr<XPCListenerType> listener)
    : listener_(listener ? std::move(listener) : makeListener(descriptor.serverType)),
      connectedClientsStorage_(ConnectedClients::create()),
      mapper_(std::make_shared<XPCMessageMapper>()),
      validator_(std::make_shared<XPCMessageValidator>()),
      simpleStrategy_(std::make_shared<SimpleRequestStrategy>(mapper_)),
      sequenceStrategy_(std::make_shared<SequentialRequestStrategy>(mapper_, validator_)),
      handshakeStrategy_(std::make_shared<HandshakeRequestStrategy>(
          std::move(descriptor.requirement), connectedClientsStorage_, mapper_)) {}

XPCServerEngine::~XPCServerEngine() {
  disposeBag_.clear();
  listener_->invalidate();
}

void XPCServerEngine::start() {
  listener_->activate();
  if (auto failure = listener_->activationFailure()) {
    throw platform::NSErrorException(std::move(*failure));
  }
}

AnyPublisher<ConnectedClients::ClientSet> XPCServerEngine::connectedClients() {
  return connectedClientsStorage_->clientsSubject().removeDuplicates();
}

AnyPublisher<ClientConnectionEvent> XPCServerEngine::clientEvents() {
  return connectedClientsStorage_->eventsSubject().eraseToAnyPublisher();
}

void XPCServerEngine::bindListener() {
  std::weak_ptr<XPCServerEngine> weakSelf = weak_from_this();
  listener_->connections()
      .flatMap([weakSelf](const AnyXPCConnection& connection) -> AnyPublisher<Never> {
        auto self = weakSelf.lock();
        return self ? self->handleConnection(connection) : Empty<Never>();
      })
      .sink([](Never) {})
      .store(disposeBag_);
}

AnyPublisher<Never> XPCServerEngine::handleConnection(const AnyXPCConnection& connection) {
  std::weak_ptr<XPCServerEngine> weakSelf = weak_from_this();
  std::weak_ptr<XPCConnectionType> weakConnection = connection;
  auto ended = [weakSelf, weakConnection] {
    auto self = weakSelf.lock();
    auto connection = weakConnection.lock();
    if (self && connection) {
      self->disconnectClient(connection);
    }
  };
  return connection->requests()
      .filter([weakSelf, connection](const XPCRequest& request) {
        auto self = weakSelf.lock();
        return !self || !self->answeredDirectly(request, connection);
      })
      .flatMap([weakSelf, connection](const XPCRequest& request) -> AnyPublisher<Never> {
        auto self = weakSelf.lock();
        if (!self) {
          return Empty<Never>();
        }
        return self->selectStrategy(request, connection)->handle(request, connection);
      })
      .replaceErrorWithEmpty()
      .handleEvents({.receiveSubscription =
                         [weakSelf, weakConnection] {
                           auto connection = weakConnection.lock();
                           if (weakSelf.lock() && connection) {
                             connection->activate();
                           }
                         },
                     .receiveCompletion = [ended](const Completion&) { ended(); },
                     .receiveCancel = ended});
}

void XPCServerEngine::disconnectClient(const AnyXPCConnection& connection) {
  connection->invalidate();
  {
    std::lock_guard lock(refusalsMutex_);
    refusedBeforeHandshake_.erase(connection->uuid().rawValue);
  }
  connectedClientsStorage_->forgetIdentity(connection->uuid().rawValue);
  std::lock_guard lock(connectedClientsStorage_->lock());
  connectedClientsStorage_->eventsSubject().send(
      ClientConnectionEvent{connection->uuid(), ClientConnectionEvent::Kind::disconnect});
}

void XPCServerEngine::registerDirectHandler(const std::string& requestTypeName,
                                            DirectRequestHandler handler) {
  simpleStrategy_->registerDirectHandler(std::move(handler), requestTypeName);
}

bool XPCServerEngine::isHandshaken(const AnyXPCConnection& connection) {
  std::lock_guard lock(connectedClientsStorage_->lock());
  // Asked for every request: the set is read in place, not copied.
  return connectedClientsStorage_->clientsSubject().readValue(
      [&](const ConnectedClients::ClientSet& clients) {
        return clients.contains(connection->uuid().rawValue);
      });
}

bool XPCServerEngine::answeredDirectly(const XPCRequest& request,
                                       const AnyXPCConnection& connection) {
  // Only a handshaken client's simple request; everything else, refusals included, takes the
  // strategies' path.
  return request.message.flags.rawValue == XPCMessage::Flag::payload().rawValue &&
         isHandshaken(connection) && simpleStrategy_->answerDirectly(request, connection->uuid());
}

std::shared_ptr<RequestStrategyType>
XPCServerEngine::selectStrategy(const XPCRequest& request, const AnyXPCConnection& connection) {
  const uint32_t flags = request.message.flags.rawValue;
  if (flags == XPCMessage::Flag::handshake().rawValue) {
    return handshakeStrategy_;
  }
  if (!isHandshaken(connection)) {
    logRefusalBeforeHandshake(connection);
    return std::make_shared<FailureRequestStrategy>(XPCProtocolError::unauthorized());
  }
  if (flags == XPCMessage::Flag::payload().rawValue) {
    return simpleStrategy_;
  }
  if ((flags & XPCMessage::Flag::sequence().rawValue) != 0) {
    return sequenceStrategy_;
  }
  return std::make_shared<FailureRequestStrategy>(
      XPCProtocolError::unsupportedRequest(connection->uuid(), request.message.flags));
}

std::optional<ClientIdentity> XPCServerEngine::clientIdentity(const ConnectionID& client) const {
  return connectedClientsStorage_->identity(client.rawValue);
}

void XPCServerEngine::logRefusalBeforeHandshake(const AnyXPCConnection& connection) {
  // Once per connection: a peer that sends thousands of messages must not flood the log.
  {
    std::lock_guard lock(refusalsMutex_);
    if (!refusedBeforeHandshake_.insert(connection->uuid().rawValue).second) {
      return;
    }
  }
  Logger::error([&] {
    const std::string peer = peerLogText(connection->clientIdentity());
    return connection->description() +
           " - refused: a message before the handshake (unauthorized; later ones of this "
           "connection are refused without a log line)" +
           (peer.empty() ? "" : ", " + peer);
  });
}

} // namespace ipc
