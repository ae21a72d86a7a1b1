#pragma once

#include "ipc/XPCMessageMapper.h"
#include "ipc/server/DirectRequestHandler.h"
#include "ipc/server/RequestHandlerRegistry.h"
#include "ipc/server/RequestStrategyType.h"
#include "ipc/server/SimpleRequestHandler.h"

namespace ipc {

// Serves messages with flags exactly `payload`: finds the handler registered for the payload's
// type name and sends its first reply, or an error reply. A type may instead have a direct
// handler, which answerDirectly runs without building a publisher.
class SimpleRequestStrategy final : public RequestStrategyType {
public:
  explicit SimpleRequestStrategy(std::shared_ptr<const XPCMessageMapper> mapper)
      : mapper_(std::move(mapper)) {}

  platform::reactive::AnyPublisher<platform::reactive::Never>
  handle(const XPCRequest& request, const AnyXPCConnection& connection) override;

  // Answers `request` through the direct handler of its payload type and returns true; returns
  // false, touching nothing, when the type has none (or the message carries no payload).
  // The caller has checked the flags and the handshake.
  bool answerDirectly(const XPCRequest& request, const ConnectionID& connectionID);

  // Registering a type in one of the two registries removes it from the other.
  void registerHandler(std::shared_ptr<ErasedHandlerType> handler, const std::string& typeName);
  void registerDirectHandler(DirectRequestHandler handler, const std::string& typeName);
  const XPCMessageMapper& mapper() const { return *mapper_; }

private:
  RequestHandlerRegistry<ErasedHandlerType> handlers_;
  RequestHandlerRegistry<DirectRequestHandler> directHandlers_;
  std::shared_ptr<const XPCMessageMapper> mapper_;
};

} // namespace ipc
