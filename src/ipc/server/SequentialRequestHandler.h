#pragma once

#include "ipc/XPCMessageMapper.h"
#include "ipc/server/SimpleRequestHandler.h"

#include <functional>
#include <memory>

namespace ipc {

// A sequence handler with its request and element types erased.
class ErasedSequentialHandlerType {
public:
  virtual ~ErasedSequentialHandlerType() = default;
  // Publishes one element message (flags 0x5) per produced value; fails with XPCProtocolError.
  virtual platform::reactive::AnyPublisher<XPCMessage> handle(const XPCMessage& message,
                                                              const ConnectionID& connectionID) = 0;
};

// Adapts an application closure from request Q to a publisher of elements E.
template <class Q, class E>
class SequentialRequestHandler final : public ErasedSequentialHandlerType {
public:
  using Handler = std::function<platform::reactive::AnyPublisher<E>(Q, ConnectionID)>;

  SequentialRequestHandler(std::shared_ptr<const XPCMessageMapper> mapper, Handler wrappedHandler)
      : mapper_(std::move(mapper)), wrappedHandler_(std::move(wrappedHandler)) {}

  platform::reactive::AnyPublisher<XPCMessage> handle(const XPCMessage& message,
                                                      const ConnectionID& connectionID) override {
    auto mapper = mapper_;
    auto handler = wrappedHandler_;
    platform::UUID sequenceID = message.sequenceID.value_or(platform::UUID());
    return platform::reactive::Just(message)
        .tryMap([mapper](const XPCMessage& received) { return mapper->decodePayload<Q>(received); })
        .flatMap([handler, connectionID](Q request) {
          return handler(std::move(request), connectionID);
        })
        .tryMap([mapper, sequenceID](const E& element) {
          return mapper->makeMessage(element, sequenceID);
        })
        .mapError([](const std::exception_ptr& error) { return XPCProtocolError::from(error); });
  }

private:
  std::shared_ptr<const XPCMessageMapper> mapper_;
  Handler wrappedHandler_;
};

} // namespace ipc
