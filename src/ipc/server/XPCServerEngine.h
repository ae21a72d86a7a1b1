#pragma once

#include "ipc/XPCListenerType.h"
#include "ipc/XPCMessageMapper.h"
#include "ipc/XPCMessageValidator.h"
#include "ipc/server/ClientRequirement.h"
#include "ipc/server/ConnectedClients.h"
#include "ipc/server/HandshakeRequestStrategy.h"
#include "ipc/server/SequentialRequestStrategy.h"
#include "ipc/server/SimpleRequestStrategy.h"

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace ipc {

// An empty response: handlers registered with registerVoidHandler produce it.
struct VoidResponse {};

// The server half of the framework: accepts every connection of its listener, hands each
// incoming message to the strategy its flags and the connection's handshake call for, and keeps
// the set of handshaken connections.
class XPCServerEngine : public std::enable_shared_from_this<XPCServerEngine> {
public:
  struct ServerType {
    enum class Kind { machService, privilegedHelper, xpcService };
    Kind kind;
    std::string name; // empty for xpcService

    static ServerType machService(std::string name) { return {Kind::machService, std::move(name)}; }
    static ServerType privilegedHelper(std::string name) {
      return {Kind::privilegedHelper, std::move(name)};
    }
    static ServerType xpcService() { return {Kind::xpcService, {}}; }
  };

  struct Descriptor {
    ServerType serverType;
    ClientRequirement requirement;

    // A privileged helper named `name` that admits a client satisfying at least one of the
    // requirement strings; every requirement is checked on every evaluation, the older first.
    // With `runtime`, a client must first pass the hardened-runtime checks of that policy
    // (HardenedRuntimeRule); the requirements are not evaluated for one that fails them.
    static Descriptor privilegedHelper(std::string name,
                                       const std::vector<std::string>& requirements,
                                       std::optional<platform::security::RuntimePolicy> runtime,
                                       platform::security::ValidationOptions options = {});
  };

  // Builds everything and subscribes to the listener (not yet activated). `listener` replaces
  // the one the descriptor names (tests listen on private paths).
  static std::shared_ptr<XPCServerEngine>
  create(Descriptor descriptor, std::unique_ptr<XPCListenerType> listener = nullptr);
  virtual ~XPCServerEngine();

  // Activates the listener; call after the handlers are registered. Throws
  // platform::NSErrorException with the listener's error when it cannot listen (a bad name,
  // another file or a live listener at the socket path, a read-only folder): a server that
  // never accepts must not look started.
  virtual void start();
  // The set of handshaken connection identifiers: the current set on subscription, then every
  // change (equal consecutive sets suppressed).
  virtual platform::reactive::AnyPublisher<ConnectedClients::ClientSet> connectedClients();
  virtual platform::reactive::AnyPublisher<ClientConnectionEvent> clientEvents();
  // Who the handshaken client on `client` is; none once it has ended (or before its handshake).
  std::optional<ClientIdentity> clientIdentity(const ConnectionID& client) const;

  // Registers a handler for request type Q producing responses of type P.
  template <class Q, class P>
  void
  registerHandler(std::function<platform::reactive::AnyPublisher<P>(Q, ConnectionID)> handler) {
    auto mapper = mapper_;
    auto wrapped = std::make_shared<SimpleRequestHandler<Q, P>>(
        [mapper](const XPCMessage& message) { return mapper->decodePayload<Q>(message); },
        [mapper](const P& response) { return mapper->makeMessage(response); }, std::move(handler));
    simpleStrategy_->registerHandler(wrapped, payloadTypeName<Q>());
  }
  // Registers a handler for request type Q without a response value: the reply is a bare
  // acknowledgement.
  template <class Q>
  void registerVoidHandler(
      std::function<platform::reactive::AnyPublisher<VoidResponse>(Q, ConnectionID)> handler) {
    auto mapper = mapper_;
    auto wrapped = std::make_shared<SimpleRequestHandler<Q, VoidResponse>>(
        [mapper](const XPCMessage& message) { return mapper->decodePayload<Q>(message); },
        [](const VoidResponse&) { return XPCMessage::acknowledge(); }, std::move(handler));
    simpleStrategy_->registerHandler(wrapped, payloadTypeName<Q>());
  }
  // Registers `handler` for requests whose payload type is `requestTypeName`: it answers each
  // at once on the receiving thread, with no publisher built per request.
  void registerDirectHandler(const std::string& requestTypeName, DirectRequestHandler handler);

  // Registers a handler for request type Q that answers each request at once with a P. The
  // replies are those of registerHandler with a publisher of that one P, bytes and errors alike.
  template <class Q, class P>
  void registerImmediateHandler(std::function<P(const Q&, ConnectionID)> handler) {
    registerDirectHandler(
        payloadTypeName<Q>(),
        DirectRequestHandler{[handler = std::move(handler)](const platform::json::Value& request,
                                                            ConnectionID connection) {
                               using platform::json::Coding;
                               return Coding<P>::encode(
                                   handler(Coding<Q>::decode(platform::json::Decoder(request)),
                                           connection));
                             },
                             payloadTypeName<P>()});
  }

  // Registers a sequence handler for request type Q producing elements of type E.
  template <class Q, class E>
  void registerSequentialHandler(
      std::function<platform::reactive::AnyPublisher<E>(Q, ConnectionID)> handler) {
    auto wrapped = std::make_shared<SequentialRequestHandler<Q, E>>(mapper_, std::move(handler));
    sequenceStrategy_->handlers().registerHandler(wrapped, payloadTypeName<Q>());
  }

  // The strategy that answers `request` on `connection`.
  virtual std::shared_ptr<RequestStrategyType> selectStrategy(const XPCRequest& request,
                                                              const AnyXPCConnection& connection);

  SequentialRequestStrategy& sequenceStrategyForTest() { return *sequenceStrategy_; }
  HandshakeRequestStrategy& handshakeStrategyForTest() { return *handshakeStrategy_; }

protected:
  XPCServerEngine(Descriptor descriptor, std::unique_ptr<XPCListenerType> listener);
  virtual void bindListener();
  virtual platform::reactive::AnyPublisher<platform::reactive::Never>
  handleConnection(const AnyXPCConnection& connection);
  virtual void disconnectClient(const AnyXPCConnection& connection);
  void logRefusalBeforeHandshake(const AnyXPCConnection& connection);
  bool isHandshaken(const AnyXPCConnection& connection);
  // Whether `request` was a simple request with a direct handler, now answered.
  bool answeredDirectly(const XPCRequest& request, const AnyXPCConnection& connection);

private:
  platform::reactive::CancellableSet disposeBag_;
  std::unique_ptr<XPCListenerType> listener_;
  std::shared_ptr<ConnectedClients> connectedClientsStorage_;
  std::shared_ptr<const XPCMessageMapper> mapper_;
  std::shared_ptr<const XPCMessageValidator> validator_;
  std::shared_ptr<SimpleRequestStrategy> simpleStrategy_;
  std::shared_ptr<SequentialRequestStrategy> sequenceStrategy_;
  std::shared_ptr<HandshakeRequestStrategy> handshakeStrategy_;
  // Connections whose messages before the handshake were already logged as refused.
  std::mutex refusalsMutex_;
  std::set<platform::UUID> refusedBeforeHandshake_;
};

} // namespace ipc
