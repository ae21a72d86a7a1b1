#pragma once

#include "ipc/XPCConnectionError.h"
#include "ipc/XPCMessage.h"
#include "ipc/XPCMessageJSONEncoder.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/reactive/detail/Emitter.h"
#include "platform/xpc/Connection.h"

#include <chrono>
#include <memory>
#include <mutex>

namespace ipc {

// One sent message awaiting its reply, as the subscription that XPCConnection::send hands to
// each subscriber. Subscribing sends; the first of these ends it: the reply (one value, then
// finished), the end of the connection (XPCConnectionError invalidated), the time-out
// (XPCProtocolError timeout, delivered on the connection's time-out queue) or a cancel (which
// drops the pending reply). One object per send instead of a chain of general operators keeps a
// round trip cheap.
class PendingReply final : public platform::reactive::Subscription,
                           public std::enable_shared_from_this<PendingReply> {
public:
  struct Context {
    std::shared_ptr<platform::xpc::Connection> transport;
    XPCMessageJSONEncoder encoder; // refers to the process-wide coders only
    XPCIdentifier<XPCConnectionType> connectionID;
    platform::dispatch::DispatchQueue timeoutQueue;
  };

  explicit PendingReply(std::shared_ptr<platform::reactive::Subscriber<XPCMessage>> downstream)
      : emitter_(std::move(downstream)) {}

  // Hands the subscription to the subscriber, then encodes and sends `message`.
  void start(const Context& context, const XPCMessage& message, std::chrono::milliseconds timeout);

  void request(platform::reactive::Demand demand) override { emitter_.addDemand(demand); }
  void cancel() override;

private:
  void receive(std::optional<platform::xpc::Message> frame, const Context& context);
  // True for the first outcome only; stops the timer and drops the pending reply.
  bool claim(bool dropReply);

  platform::reactive::detail::Emitter<XPCMessage> emitter_;
  std::mutex mutex_;
  bool done_ = false;
  std::shared_ptr<platform::dispatch::DispatchWorkItem> timer_;
  std::weak_ptr<platform::xpc::Connection> transport_;
  platform::xpc::Connection::CallId callId_ = 0;
};

} // namespace ipc
