#include "ipc/server/SimpleRequestStrategy.h"

namespace ipc {

using platform::reactive::AnyPublisher;
using platform::reactive::Completion;
using platform::reactive::Never;

AnyPublisher<Never> SimpleRequestStrategy::handle(const XPCRequest& request,
                                                  const AnyXPCConnection& connection) {
  const XPCMessage& message = request.message;
  if (!message.binaryPayload) {
    return replyOnSubscription(request, XPCMessage::errorReply(XPCProtocolError::missingPayload()));
  }
  const std::string& name = message.binaryPayload->encodedType;
  auto handler = handlers_.handler(name);
  if (!handler) {
    return replyOnSubscription(
        request,
        XPCMessage::errorReply(XPCProtocolError::missingRequestHandler(name, message.flags)));
  }
  auto reply = [request](const XPCMessage& answer) {
    if (request.needsReply && request.replyHandler) {
      request.replyHandler(answer);
    }
  };
  return handler->handle(message, connection->uuid())
      .first()
      .handleEvents(
          {.receiveOutput = reply,
           .receiveCompletion =
               [reply](const Completion& completion) {
                 if (completion.isFailure()) {
                   reply(XPCMessage::errorReply(XPCProtocolError::from(completion.error())));
                 }
               }})
      .ignoreOutput()
      .replaceErrorWithEmpty();
}

} // namespace ipc
