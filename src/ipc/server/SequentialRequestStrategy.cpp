#include "ipc/server/SequentialRequestStrategy.h"

#include "ipc/Logger.h"
#include "platform/reactive/Deferred.h"
#include "platform/reactive/Empty.h"
#include "platform/reactive/Just.h"

namespace ipc {

using platform::reactive::AnyPublisher;
using platform::reactive::Empty;
using platform::reactive::Just;
using platform::reactive::Never;

namespace {
// `sequence` + `payload` + `cancel`: the flags a sequence message may carry.
constexpr XPCMessage::Flag kSequenceFlags{21};
} // namespace

AnyPublisher<Never> SequentialRequestStrategy::handle(const XPCRequest& request,
                                                      const AnyXPCConnection& connection) {
  const XPCMessage& message = request.message;
  const XPCMessage::Flag flags = message.flags;
  if (flags.contains(XPCMessage::Flag::payload())) {
    if (!message.binaryPayload) {
      return replyOnSubscription(request,
                                 XPCMessage::errorReply(XPCProtocolError::missingPayload()));
    }
    if (!message.sequenceID) {
      return replyOnSubscription(request,
                                 XPCMessage::errorReply(XPCProtocolError::missingSequenceID()));
    }
    const std::string& name = message.binaryPayload->encodedType;
    auto handler = handlers_.handler(name);
    if (!handler) {
      return replyOnSubscription(
          request, XPCMessage::errorReply(XPCProtocolError::missingRequestHandler(name, flags)));
    }
    return runSequence(handler, request, connection, *message.sequenceID);
  }
  if (flags.contains(XPCMessage::Flag::cancel())) {
    if (message.sequenceID) {
      cancelledSequences_.send(*message.sequenceID);
    } else {
      Logger::error(
          [] { return std::string("Got sequence cancel request with empty sequenceID"); });
    }
    return Empty<Never>();
  }
  return replyOnSubscription(request, XPCMessage::errorReply(XPCProtocolError::messageTypeMismatch(
                                          flags, kSequenceFlags)));
}

AnyPublisher<Never> SequentialRequestStrategy::runSequence(
    const std::shared_ptr<ErasedSequentialHandlerType>& handler, const XPCRequest& request,
    const AnyXPCConnection& connection, const platform::UUID& sequenceID) {
  std::weak_ptr<SequentialRequestStrategy> weakSelf = weak_from_this();
  std::weak_ptr<XPCConnectionType> weakConnection = connection;
  auto validator = validator_;
  auto timeout = sendTimeout_;

  XPCMessage finished;
  finished.flags = XPCMessage::Flag::sequence() | XPCMessage::Flag::acknowledge();
  finished.sequenceID = sequenceID;

  auto acknowledgeStart = [request] {
    if (request.needsReply && request.replyHandler) {
      request.replyHandler(XPCMessage::acknowledge());
    }
  };
  auto thisSequence = cancelledSequences_.filter(
      [sequenceID](const platform::UUID& cancelled) { return cancelled == sequenceID; });

  return handler->handle(request.message, connection->uuid())
      .handleEvents({.receiveSubscription = acknowledgeStart})
      .append(Just(finished))
      .catchError([sequenceID](const std::exception_ptr& error) {
        return Just(XPCMessage::errorReply(XPCProtocolError::from(error), sequenceID));
      })
      .prefixUntilOutputFrom(thisSequence)
      .flatMap([weakSelf, weakConnection, validator,
                timeout](XPCMessage message) -> AnyPublisher<XPCMessage> {
        auto self = weakSelf.lock();
        auto connection = weakConnection.lock();
        if (!self || !connection) {
          return Empty<XPCMessage>();
        }
        return connection->send(std::move(message), timeout)
            .tryMap([validator](const XPCMessage& answer) {
              return validator->validateAcknowledge(answer);
            });
      })
      .ignoreOutput()
      .replaceErrorWithEmpty();
}

} // namespace ipc
