#pragma once

#include "ipc/HandshakePayload.h"
#include "ipc/XPCConnectionType.h"
#include "ipc/XPCMessageMapper.h"
#include "ipc/XPCMessageValidator.h"
#include "ipc/XPCProtocolError.h"
#include "ipc/client/AttachedReplyNode.h"
#include "ipc/client/ClientError.h"
#include "ipc/client/SequenceGate.h"
#include "ipc/client/SequenceIDStorage.h"
#include "platform/reactive/Deferred.h"
#include "platform/reactive/Empty.h"
#include "platform/reactive/PassthroughSubject.h"

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace ipc {

// The empty value of a request answered only by an acknowledgement, and of a started engine.
struct EmptyValue {
  bool operator==(const EmptyValue&) const = default;
};

// The client half of the framework: runs the handshake, sends requests and waits for their
// replies, runs request sequences whose elements the server pushes back, and cancels them.
class XPCClientEngine : public std::enable_shared_from_this<XPCClientEngine> {
public:
  // The time every send waits for its answer.
  static constexpr std::chrono::seconds kSendTimeout{10};

  // Which service to connect to.
  struct Descriptor {
    enum class Kind { machService, privilegedHelper, xpcService, anonymous };
    Kind kind;
    std::string name; // service name, bundle identifier, or socket path (anonymous endpoint)

    static Descriptor machService(std::string name) { return {Kind::machService, std::move(name)}; }
    static Descriptor privilegedHelper(std::string name) {
      return {Kind::privilegedHelper, std::move(name)};
    }
    static Descriptor xpcService(std::string bundleID) {
      return {Kind::xpcService, std::move(bundleID)};
    }
    static Descriptor anonymous(std::string socketPath) {
      return {Kind::anonymous, std::move(socketPath)};
    }
  };

  using HandshakeProvider = std::function<HandshakePayload()>;
  using UIDGenerator = std::function<platform::UUID()>;

  // Connects to the service of `descriptor`. A privileged helper must run as root. When the
  // service cannot be reached the engine still exists; its start fails with the connection's
  // error, and connectionFailure() says why.
  static std::shared_ptr<XPCClientEngine> create(
      Descriptor descriptor, HandshakeProvider handshakeProvider,
      UIDGenerator uidGenerator = [] { return platform::UUID(); });
  // An engine on a given connection (tests).
  static std::shared_ptr<XPCClientEngine> create(
      AnyXPCConnection connection, HandshakeProvider handshakeProvider,
      UIDGenerator uidGenerator = [] { return platform::UUID(); });
  virtual ~XPCClientEngine();

  // Completes (after one value) when the handshake is acknowledged; fails with the first failure.
  // Shared: all subscribers see one run. A second start fails with engineAlreadyStarted.
  platform::reactive::AnyPublisher<EmptyValue> start();

  // Sends `request` and publishes the one response of type R.
  // The descriptors that came with the answer are current (ReplyAttachments::take) while the
  // response is delivered.
  template <class Q, class R> platform::reactive::AnyPublisher<R> send(const Q& request) {
    auto self = shared_from_this();
    auto decode = [self](const XPCMessage& answer) {
      return self->mapper_.decodePayload<R>(self->validator_.validate(answer));
    };
    auto answers = exchange(request);
    return platform::reactive::AnyPublisher<R>(
        [answers, decode](std::shared_ptr<platform::reactive::Subscriber<R>> downstream) {
          answers.subscribe(std::make_shared<AttachedReplyNode<R, decltype(decode)>>(
              std::move(downstream), decode));
        });
  }
  // The lean path for a simple request: sends `request` and waits on the calling thread for
  // its one response of type R, within kSendTimeout. The calling thread reads the connection
  // itself while no other thread does, so the reply needs no thread hand-off, and no publisher
  // is built. Throws what send() fails with. The descriptors that came with the reply go to
  // `descriptors` when given, and are closed otherwise.
  template <class Q, class R>
  R sendAndWait(const Q& request, ReplyAttachments::Descriptors* descriptors = nullptr) {
    XPCMessage answer = exchangeAndWait(mapper_.makeMessage(request));
    R response = mapper_.decodePayload<R>(validator_.validate(answer));
    if (descriptors != nullptr && answer.attachments) {
      *descriptors = std::move(*answer.attachments);
    }
    return response;
  }
  // Sends `request`, which the server answers with an acknowledgement only.
  template <class Q>
  platform::reactive::AnyPublisher<EmptyValue> sendAcknowledged(const Q& request) {
    auto self = shared_from_this();
    return exchange(request).tryMap([self](const XPCMessage& answer) {
      self->validator_.validateAcknowledge(answer);
      return EmptyValue{};
    });
  }
  // Starts a sequence and publishes its elements; completes when the server finishes it.
  // Cancelling the subscription cancels the sequence on the server.
  template <class Q, class E> platform::reactive::AnyPublisher<E> sendSequence(const Q& request);

  const AnyXPCConnection& connection() const { return connection_; }
  const SequenceIDStorage& runningSequences() const { return runningSequences_; }
  // Why the service could not be reached; none when it was.
  const std::optional<platform::NSError>& connectionFailure() const { return connectionFailure_; }

  // The checks a message that the server pushes must pass: the sequence bit, an identifier,
  // and a sequence that is running here. Throws XPCProtocolError.
  void validateSequence(const XPCMessage& message) const;

protected:
  XPCClientEngine(AnyXPCConnection connection, HandshakeProvider handshakeProvider,
                  UIDGenerator uidGenerator);

private:
  template <class Q> platform::reactive::AnyPublisher<XPCMessage> exchange(const Q& request) {
    std::weak_ptr<XPCClientEngine> weakSelf = weak_from_this();
    return platform::reactive::Deferred([weakSelf, request]() {
      auto self = weakSelf.lock();
      if (!self) {
        return platform::reactive::Fail<XPCMessage>(ClientError::notConnected());
      }
      return self->connection_->send(self->mapper_.makeMessage(request), kSendTimeout);
    });
  }
  XPCMessage exchangeAndWait(XPCMessage message);
  void bindServerRequests();
  void sendCancel(const platform::UUID& sequenceID);

  platform::reactive::CancellableSet bag_;
  std::recursive_mutex lock_;
  XPCMessageValidator validator_;
  XPCMessageMapper mapper_;
  AnyXPCConnection connection_;
  SequenceIDStorage runningSequences_;
  platform::reactive::PassthroughSubject<XPCRequest> serverRequests_;
  bool isValidForStart_ = true;
  UIDGenerator uidGenerator_;
  HandshakeProvider handshakeProvider_;
  std::optional<platform::NSError> connectionFailure_;
  std::optional<platform::reactive::AnyPublisher<EmptyValue>> started_;
};

template <class Q, class E>
platform::reactive::AnyPublisher<E> XPCClientEngine::sendSequence(const Q& request) {
  using namespace platform::reactive;
  std::weak_ptr<XPCClientEngine> weakSelf = weak_from_this();
  return Deferred([weakSelf, request]() -> AnyPublisher<E> {
    auto self = weakSelf.lock();
    if (!self) {
      return Fail<E>(ClientError::notConnected());
    }
    const platform::UUID sequenceID = self->uidGenerator_();
    auto answer = [](const XPCRequest& pushed, const XPCMessage& reply) {
      if (pushed.needsReply && pushed.replyHandler) {
        pushed.replyHandler(reply);
      }
    };
    AnyPublisher<E> elements =
        self->serverRequests_
            .filter([sequenceID](const XPCRequest& pushed) {
              return pushed.message.sequenceID == sequenceID;
            })
            .handleEvents(
                {.receiveOutput =
                     [answer](const XPCRequest& pushed) {
                       // The finished message is acknowledged too, so that the server's
                       // pipeline ends at once rather than by its time-out.
                       if (pushed.message.flags.contains(XPCMessage::Flag::acknowledge()) &&
                           !pushed.message.flags.contains(XPCMessage::Flag::error())) {
                         answer(pushed, XPCMessage::acknowledge());
                       }
                     }})
            .prefixWhile([](const XPCRequest& pushed) {
              return !pushed.message.flags.contains(XPCMessage::Flag::acknowledge());
            })
            .tryMap([weakSelf, answer](const XPCRequest& pushed) -> E {
              auto owner = weakSelf.lock();
              if (!owner) {
                throw ClientError::notConnected();
              }
              try {
                E element = owner->mapper_.template decodePayload<E>(
                    owner->validator_.validate(pushed.message));
                answer(pushed, XPCMessage::acknowledge());
                return element;
              } catch (const std::exception& failure) {
                answer(pushed, XPCMessage::errorReply(XPCProtocolError::from(failure)));
                throw;
              }
            });
    AnyPublisher<XPCMessage> started =
        self->connection_->send(self->mapper_.makeMessage(request, sequenceID), kSendTimeout)
            .tryMap([weakSelf](const XPCMessage& answer) {
              auto owner = weakSelf.lock();
              if (!owner) {
                throw ClientError::notConnected();
              }
              return owner->validator_.validateAcknowledge(answer);
            });
    auto forget = [weakSelf, sequenceID] {
      if (auto owner = weakSelf.lock()) {
        owner->runningSequences_.remove(sequenceID);
      }
    };
    return SequenceGate<E>::make(elements, started)
        .handleEvents({.receiveSubscription =
                           [weakSelf, sequenceID] {
                             if (auto owner = weakSelf.lock()) {
                               owner->runningSequences_.insert(sequenceID);
                             }
                           },
                       .receiveCompletion = [forget](const Completion&) { forget(); },
                       .receiveCancel =
                           [weakSelf, sequenceID, forget] {
                             if (auto owner = weakSelf.lock()) {
                               owner->sendCancel(sequenceID);
                             }
                             forget();
                           }});
  });
}

} // namespace ipc
