#pragma once

#include "ipc/client/ConnectionState.h"
#include "ipc/client/XPCClientEngine.h"
#include "platform/reactive/CurrentValueSubject.h"
#include "platform/reactive/Just.h"

#include <functional>
#include <memory>
#include <mutex>

namespace ipc {

// A long-lived client: makes a fresh engine for every connection attempt, tracks the
// connection in a published state machine, and lets requests wait for a connection that it
// opens on demand (autoconnect) or fail at once without one (default).
class ConnectableClient final : public ConnectionContextType,
                                public std::enable_shared_from_this<ConnectableClient> {
public:
  enum class RequestPolicy { defaultPolicy, autoconnect };
  using EngineFactory = std::function<std::shared_ptr<XPCClientEngine>()>;

  static std::shared_ptr<ConnectableClient> create(RequestPolicy policy,
                                                   EngineFactory engineFactory);

  // Every state in order: the current one on subscription, then each change.
  platform::reactive::AnyPublisher<ClientConnectionState> state() const {
    return stateRelay_.eraseToAnyPublisher();
  }
  ClientConnectionState currentState() const { return stateRelay_.value(); }
  void connect();
  void disconnect();

  template <class Q, class R> platform::reactive::AnyPublisher<R> send(const Q& request) {
    return engineWhenReady().flatMap([request](const std::shared_ptr<XPCClientEngine>& engine) {
      return engine->send<Q, R>(request);
    });
  }
  template <class Q>
  platform::reactive::AnyPublisher<EmptyValue> sendAcknowledged(const Q& request) {
    return engineWhenReady().flatMap([request](const std::shared_ptr<XPCClientEngine>& engine) {
      return engine->sendAcknowledged<Q>(request);
    });
  }
  template <class Q, class E> platform::reactive::AnyPublisher<E> sendSequence(const Q& request) {
    return engineWhenReady().flatMap([request](const std::shared_ptr<XPCClientEngine>& engine) {
      return engine->sendSequence<Q, E>(request);
    });
  }

  // The lean path (XPCClientEngine::sendAndWait) once a connection is established; under
  // autoconnect the calling thread first waits for the connection. Throws the failure.
  template <class Q, class R>
  R sendAndWait(const Q& request, ReplyAttachments::Descriptors* descriptors = nullptr) {
    return readyEngine()->sendAndWait<Q, R>(request, descriptors);
  }

  // The engine of an established connection, connecting first under autoconnect; fails with
  // ClientError::notConnected otherwise.
  platform::reactive::AnyPublisher<std::shared_ptr<XPCClientEngine>> engineWhenReady();

  // ConnectionContextType
  void startConnection() override;
  void dropConnection() override;
  void setState(std::shared_ptr<ConnectionStateType> state) override;

private:
  // engineWhenReady on the calling thread: at once when established, else waiting (within the
  // handshake's time) for the connection under autoconnect. Throws its failure.
  std::shared_ptr<XPCClientEngine> readyEngine();

  // One connection attempt: the engine, the subscription to its start and the one to its
  // connection's errors.
  struct Connection {
    platform::reactive::AnyCancellable connection;
    platform::reactive::AnyCancellable failures;
    std::shared_ptr<XPCClientEngine> engine;
  };

  ConnectableClient(RequestPolicy policy, EngineFactory engineFactory);

  std::recursive_mutex lock_;
  platform::reactive::CurrentValueSubject<ClientConnectionState> stateRelay_;
  const RequestPolicy requestPolicy_;
  EngineFactory engineFactory_;
  std::unique_ptr<Connection> connection_;
  std::shared_ptr<ConnectionStateType> state_;
};

} // namespace ipc
