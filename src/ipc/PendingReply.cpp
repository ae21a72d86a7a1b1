#include "ipc/PendingReply.h"

#include "ipc/XPCProtocolError.h"

namespace ipc {

using platform::reactive::Completion;

void PendingReply::start(const Context& context, const XPCMessage& message,
                         std::chrono::milliseconds timeout) {
  emitter_.start(shared_from_this());
  platform::Bytes bytes;
  try {
    bytes = context.encoder.encode(message); // throws mailformedTransportMessage
  } catch (...) {
    if (claim(false)) {
      emitter_.complete(Completion::failure(std::current_exception()));
    }
    return;
  }
  std::weak_ptr<PendingReply> weakSelf = weak_from_this();
  auto timer = std::make_shared<platform::dispatch::DispatchWorkItem>([weakSelf] {
    auto self = weakSelf.lock();
    if (self && self->claim(true)) {
      self->emitter_.complete(Completion::failure(XPCProtocolError::timeout()));
    }
  });
  {
    std::lock_guard lock(mutex_);
    if (done_) {
      return; // cancelled while subscribing
    }
    timer_ = timer;
    transport_ = context.transport;
  }
  context.timeoutQueue.asyncAfter(timeout, timer);
  const auto callId = context.transport->sendWithReply(
      platform::xpc::Message{std::move(bytes), {}},
      [weakSelf, context](std::optional<platform::xpc::Message> frame) {
        if (auto self = weakSelf.lock()) {
          self->receive(std::move(frame), context);
        }
      });
  bool dropReply = false;
  {
    std::lock_guard lock(mutex_);
    callId_ = callId;
    dropReply = done_; // ended (time-out or cancel) before the call had its identifier
  }
  if (dropReply) {
    context.transport->cancelReply(callId);
  }
}

void PendingReply::receive(std::optional<platform::xpc::Message> frame, const Context& context) {
  if (!frame) {
    // The transport answers none when the connection ended before the reply came.
    if (claim(false)) {
      emitter_.complete(Completion::failure(
          XPCConnectionError(context.connectionID, XPCConnectionError::Reason::invalidated)));
    }
    return;
  }
  XPCMessage decoded;
  try {
    decoded = context.encoder.decode(frame->payload);
  } catch (...) {
    if (claim(false)) {
      emitter_.complete(Completion::failure(std::current_exception()));
    }
    return;
  }
  if (!claim(false)) {
    return;
  }
  auto descriptors = std::make_shared<ReplyAttachments::Descriptors>(std::move(frame->descriptors));
  decoded.attachments = descriptors;
  ReplyAttachments::Scope scope(descriptors);
  emitter_.push(std::move(decoded));
  emitter_.complete(Completion::finished());
}

void PendingReply::cancel() {
  emitter_.cancel();
  claim(true);
}

bool PendingReply::claim(bool dropReply) {
  std::shared_ptr<platform::dispatch::DispatchWorkItem> timer;
  std::shared_ptr<platform::xpc::Connection> transport;
  platform::xpc::Connection::CallId callId = 0;
  {
    std::lock_guard lock(mutex_);
    if (done_) {
      return false;
    }
    done_ = true;
    timer = std::move(timer_);
    transport = transport_.lock();
    callId = callId_;
  }
  if (timer) {
    timer->cancel();
  }
  if (dropReply && transport && callId != 0) {
    transport->cancelReply(callId);
  }
  return true;
}

} // namespace ipc
