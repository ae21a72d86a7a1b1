#pragma once

#include "ipc/XPCMessageMapper.h"
#include "ipc/XPCMessageValidator.h"
#include "ipc/server/RequestHandlerRegistry.h"
#include "ipc/server/RequestStrategyType.h"
#include "ipc/server/SequentialRequestHandler.h"
#include "platform/reactive/PassthroughSubject.h"

#include <chrono>

namespace ipc {

// Serves request sequences: acknowledges the start, pushes every element to the client as a
// message of its own (each acknowledged by the client), ends with a finished or an error
// message, and stops when the client cancels.
class SequentialRequestStrategy final
    : public RequestStrategyType,
      public std::enable_shared_from_this<SequentialRequestStrategy> {
public:
  // The time each pushed message waits for the client's acknowledgement.
  static constexpr std::chrono::seconds kSendTimeout{10};

  SequentialRequestStrategy(std::shared_ptr<const XPCMessageMapper> mapper,
                            std::shared_ptr<const XPCMessageValidator> validator)
      : mapper_(std::move(mapper)), validator_(std::move(validator)) {}

  platform::reactive::AnyPublisher<platform::reactive::Never>
  handle(const XPCRequest& request, const AnyXPCConnection& connection) override;

  RequestHandlerRegistry<ErasedSequentialHandlerType>& handlers() { return handlers_; }
  const std::shared_ptr<const XPCMessageMapper>& mapper() const { return mapper_; }
  // Every identifier sent here stops the running sequence of that identifier, whichever
  // connection it runs on.
  const platform::reactive::PassthroughSubject<platform::UUID>& cancelledSequences() const {
    return cancelledSequences_;
  }
  void setSendTimeoutForTest(std::chrono::milliseconds timeout) { sendTimeout_ = timeout; }

private:
  platform::reactive::AnyPublisher<platform::reactive::Never>
  runSequence(const std::shared_ptr<ErasedSequentialHandlerType>& handler,
              const XPCRequest& request, const AnyXPCConnection& connection,
              const platform::UUID& sequenceID);

  platform::reactive::PassthroughSubject<platform::UUID> cancelledSequences_;
  RequestHandlerRegistry<ErasedSequentialHandlerType> handlers_;
  std::shared_ptr<const XPCMessageMapper> mapper_;
  std::shared_ptr<const XPCMessageValidator> validator_;
  std::chrono::milliseconds sendTimeout_ = kSendTimeout;
};

} // namespace ipc
