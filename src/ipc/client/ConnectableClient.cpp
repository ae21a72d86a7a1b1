#include "ipc/client/ConnectableClient.h"

#include "platform/reactive/Await.h"
#include "platform/reactive/Deferred.h"
#include "platform/reactive/Empty.h"

namespace ipc {

using platform::reactive::AnyPublisher;
using platform::reactive::Completion;

std::shared_ptr<ConnectableClient> ConnectableClient::create(RequestPolicy policy,
                                                             EngineFactory engineFactory) {
  auto client =
      std::shared_ptr<ConnectableClient>(new ConnectableClient(policy, std::move(engineFactory)));
  std::lock_guard lock(client->lock_);
  client->state_ = std::make_shared<ConnectionStateIdle>();
  client->state_->setContext(client);
  client->stateRelay_.send(ClientConnectionState::idle);
  client->state_->didEnter();
  return client;
}

ConnectableClient::ConnectableClient(RequestPolicy policy, EngineFactory engineFactory)
    : stateRelay_(ClientConnectionState::idle), requestPolicy_(policy),
      engineFactory_(std::move(engineFactory)) {}

void ConnectableClient::setState(std::shared_ptr<ConnectionStateType> state) {
  std::lock_guard lock(lock_);
  state_->willExit();
  state_->setContext({});
  state_ = std::move(state);
  state_->setContext(weak_from_this());
  stateRelay_.send(state_->kind());
  // The state may move on from inside didEnter; keep it alive until then.
  auto entered = state_;
  entered->didEnter();
}

void ConnectableClient::startConnection() {
  std::lock_guard lock(lock_);
  auto attempt = std::make_unique<Connection>();
  attempt->engine = engineFactory_();
  Connection* current = attempt.get();
  connection_ = std::move(attempt);
  std::weak_ptr<ConnectableClient> weakSelf = weak_from_this();
  auto subscription = current->engine->start().sink(
      [weakSelf](const Completion& completion) {
        auto self = weakSelf.lock();
        if (!self || completion.isFinished()) {
          return;
        }
        std::lock_guard lock(self->lock_);
        auto state = self->state_;
        state->connectionFailed(completion.error());
      },
      [weakSelf](const EmptyValue&) {
        auto self = weakSelf.lock();
        if (!self) {
          return;
        }
        std::lock_guard lock(self->lock_);
        auto state = self->state_;
        state->connectionEstablished();
      });
  // The start may already have ended (and dropped this attempt) inside sink().
  if (connection_.get() != current) {
    return;
  }
  current->connection = std::move(subscription);
  // A connection lost after the handshake fails the established state too, so that observers
  // learn of it and an autoconnecting client opens a new one for its next request. Before the
  // handshake the start reports the same loss; the second report finds the state failed.
  const auto engine = current->engine; // kept while subscribing, even if the attempt is dropped
  auto failures =
      engine->connection()->errors().sink([](const Completion&) {},
                                          [weakSelf](const XPCConnectionError& error) {
                                            auto self = weakSelf.lock();
                                            if (!self) {
                                              return;
                                            }
                                            std::lock_guard lock(self->lock_);
                                            auto state = self->state_;
                                            state->connectionFailed(std::make_exception_ptr(error));
                                          });
  if (connection_.get() == current) {
    current->failures = std::move(failures);
  }
}

void ConnectableClient::dropConnection() {
  std::unique_ptr<Connection> dropped;
  {
    std::lock_guard lock(lock_);
    dropped = std::move(connection_);
  }
  // Released outside the lock: cancelling the start invalidates the engine's connection.
}

void ConnectableClient::connect() {
  std::lock_guard lock(lock_);
  auto state = state_;
  state->connect();
}

void ConnectableClient::disconnect() {
  std::lock_guard lock(lock_);
  auto state = state_;
  state->disconnect();
}

AnyPublisher<std::shared_ptr<XPCClientEngine>> ConnectableClient::engineWhenReady() {
  std::weak_ptr<ConnectableClient> weakSelf = weak_from_this();
  return platform::reactive::Deferred([weakSelf]() -> AnyPublisher<ClientConnectionState> {
           auto self = weakSelf.lock();
           if (!self) {
             return platform::reactive::Fail<ClientConnectionState>(ClientError::notConnected());
           }
           ClientConnectionState current = self->stateRelay_.value();
           if (self->requestPolicy_ == RequestPolicy::autoconnect &&
               current != ClientConnectionState::established) {
             self->connect();
             return self->stateRelay_
                 .filter([](ClientConnectionState state) {
                   return state != ClientConnectionState::connecting;
                 })
                 .first();
           }
           return platform::reactive::Just(current);
         })
      .tryMap([weakSelf](ClientConnectionState state) {
        auto self = weakSelf.lock();
        if (!self) {
          throw ClientError::notConnected();
        }
        std::lock_guard lock(self->lock_);
        if (state != ClientConnectionState::established || !self->connection_) {
          throw ClientError::notConnected();
        }
        return self->connection_->engine;
      });
}

std::shared_ptr<XPCClientEngine> ConnectableClient::readyEngine() {
  {
    std::lock_guard lock(lock_);
    if (stateRelay_.value() == ClientConnectionState::established && connection_) {
      return connection_->engine;
    }
  }
  // The handshake is bounded by the engine's send time-out; this only guards the wait itself.
  auto outcome = platform::reactive::await(engineWhenReady(), 2 * XPCClientEngine::kSendTimeout);
  if (outcome.error) {
    std::rethrow_exception(outcome.error);
  }
  if (outcome.values.empty()) {
    throw ClientError::notConnected();
  }
  return outcome.values.front();
}

} // namespace ipc
