#pragma once

#include "ipc/XPCConnectionType.h"
#include "ipc/XPCProtocolError.h"
#include "platform/reactive/Just.h"

#include <functional>

namespace ipc {

using ConnectionID = XPCIdentifier<XPCConnectionType>;

// A simple handler with its request and response types erased.
class ErasedHandlerType {
public:
  virtual ~ErasedHandlerType() = default;
  // Publishes the reply messages; fails with XPCProtocolError.
  virtual platform::reactive::AnyPublisher<XPCMessage> handle(const XPCMessage& message,
                                                              const ConnectionID& connectionID) = 0;
};

// Adapts an application closure from request Q to a publisher of responses P.
template <class Q, class P> class SimpleRequestHandler final : public ErasedHandlerType {
public:
  using Decoder = std::function<Q(const XPCMessage&)>;
  using Encoder = std::function<XPCMessage(const P&)>;
  using Handler = std::function<platform::reactive::AnyPublisher<P>(Q, ConnectionID)>;

  SimpleRequestHandler(Decoder decoder, Encoder encoder, Handler wrappedHandler)
      : decoder_(std::move(decoder)), encoder_(std::move(encoder)),
        wrappedHandler_(std::move(wrappedHandler)) {}

  platform::reactive::AnyPublisher<XPCMessage> handle(const XPCMessage& message,
                                                      const ConnectionID& connectionID) override {
    auto decoder = decoder_;
    auto handler = wrappedHandler_;
    auto encoder = encoder_;
    return platform::reactive::Just(message)
        .tryMap([decoder](const XPCMessage& received) { return decoder(received); })
        .flatMap([handler, connectionID](Q request) {
          return handler(std::move(request), connectionID);
        })
        .tryMap([encoder](const P& response) { return encoder(response); })
        .mapError([](const std::exception_ptr& error) { return XPCProtocolError::from(error); });
  }

private:
  Decoder decoder_;
  Encoder encoder_;
  Handler wrappedHandler_;
};

} // namespace ipc
