#include "ipc/server/RequestStrategyType.h"

#include "platform/reactive/Deferred.h"
#include "platform/reactive/Empty.h"

namespace ipc {

platform::reactive::AnyPublisher<platform::reactive::Never>
replyOnSubscription(const XPCRequest& request, XPCMessage reply) {
  using platform::reactive::Never;
  return platform::reactive::Deferred([request, reply] {
    if (request.needsReply && request.replyHandler) {
      request.replyHandler(reply);
    }
    return platform::reactive::Empty<Never>();
  });
}

} // namespace ipc
