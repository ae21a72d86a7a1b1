#pragma once

#include "ipc/ReplyAttachments.h"
#include "ipc/XPCMessage.h"
#include "platform/reactive/detail/PassThroughNode.h"

namespace ipc {

// Decodes a reply message into the sender's response type and hands it on with the reply's
// descriptors current (ReplyAttachments::take), on whatever thread delivers it: a publisher
// chain may relay a value from the thread that received it to another, and the descriptors
// must reach the subscriber all the same.
template <class R, class Decode>
class AttachedReplyNode final : public platform::reactive::detail::PassThroughNode<XPCMessage, R> {
public:
  AttachedReplyNode(std::shared_ptr<platform::reactive::Subscriber<R>> downstream, Decode decode)
      : platform::reactive::detail::PassThroughNode<XPCMessage, R>(std::move(downstream)),
        decode_(std::move(decode)) {}

protected:
  platform::reactive::Demand forward(XPCMessage message,
                                     platform::reactive::Subscriber<R>& downstream) override {
    auto decoded = this->attempt([&] { return R(decode_(message)); });
    if (!decoded) {
      return platform::reactive::Demand::none();
    }
    // A reply without descriptors makes none current, whatever this thread held before.
    ReplyAttachments::Scope scope(message.attachments);
    return downstream.receiveValue(std::move(*decoded));
  }

private:
  Decode decode_;
};

} // namespace ipc
