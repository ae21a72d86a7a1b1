#pragma once

#include "ipc/XPCMessageMapper.h"
#include "ipc/server/RequestHandlerRegistry.h"
#include "ipc/server/RequestStrategyType.h"
#include "ipc/server/SimpleRequestHandler.h"

namespace ipc {

// Serves messages with flags exactly `payload`: finds the handler registered for the payload's
// type name and sends its first reply, or an error reply.
class SimpleRequestStrategy final : public RequestStrategyType {
public:
  explicit SimpleRequestStrategy(std::shared_ptr<const XPCMessageMapper> mapper)
      : mapper_(std::move(mapper)) {}

  platform::reactive::AnyPublisher<platform::reactive::Never>
  handle(const XPCRequest& request, const AnyXPCConnection& connection) override;

  RequestHandlerRegistry<ErasedHandlerType>& handlers() { return handlers_; }
  const XPCMessageMapper& mapper() const { return *mapper_; }

private:
  RequestHandlerRegistry<ErasedHandlerType> handlers_;
  std::shared_ptr<const XPCMessageMapper> mapper_;
};

} // namespace ipc
