#include "ipc/server/SimpleRequestStrategy.h"

#include <exception>
#include <string_view>

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

void SimpleRequestStrategy::registerHandler(std::shared_ptr<ErasedHandlerType> handler,
                                            const std::string& typeName) {
  directHandlers_.removeHandler(typeName);
  handlers_.registerHandler(std::move(handler), typeName);
}

void SimpleRequestStrategy::registerDirectHandler(DirectRequestHandler handler,
                                                  const std::string& typeName) {
  handlers_.removeHandler(typeName);
  directHandlers_.registerHandler(std::make_shared<DirectRequestHandler>(std::move(handler)),
                                  typeName);
}

bool SimpleRequestStrategy::answerDirectly(const XPCRequest& request,
                                           const ConnectionID& connectionID) {
  const XPCMessage& message = request.message;
  if (!message.binaryPayload) {
    return false;
  }
  auto handler = directHandlers_.handler(message.binaryPayload->encodedType);
  if (!handler) {
    return false;
  }
  // The same steps, and so the same bytes and errors, as the publisher path: parse the payload,
  // decode, run, encode; any failure becomes the error reply of XPCProtocolError::from.
  XPCMessage answer;
  try {
    platform::Bytes text;
    {
      // The request's and the response's documents go before the reply is encoded: with a
      // large response, each copy counts.
      const platform::Bytes& data = message.binaryPayload->data;
      const platform::json::Value response =
          handler->answer(platform::json::parse(std::string_view(
                              reinterpret_cast<const char*>(data.data()), data.size())),
                          connectionID);
      if (handler->responseTypeName) {
        text = platform::json::writeBytes(response);
      }
    }
    if (handler->responseTypeName) {
      answer.flags = XPCMessage::Flag::payload();
      answer.binaryPayload = XPCMessage::BinaryPayload{*handler->responseTypeName, std::move(text)};
    } else {
      answer = XPCMessage::acknowledge();
    }
  } catch (...) {
    answer = XPCMessage::errorReply(XPCProtocolError::from(std::current_exception()));
  }
  if (request.needsReply && request.replyHandler) {
    request.replyHandler(std::move(answer));
  }
  return true;
}

} // namespace ipc
