#include "ipc/client/AttachedReplyNode.h"
#include "platform/reactive/PassthroughSubject.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>

namespace ipc {
namespace {

using platform::reactive::AnyPublisher;
using platform::reactive::PassthroughSubject;
using platform::reactive::Subscriber;

// A reply relayed by another thread than the one that received it (as a publisher chain may
// do) still brings its descriptors to the subscriber, and a reply without any brings none.
TEST(AttachedReplyNode, DescriptorsReachTheSubscriberOnTheDeliveringThread) {
  PassthroughSubject<XPCMessage> replies;
  auto decode = [](const XPCMessage& message) { return int64_t(message.flags.rawValue); };
  auto upstream = replies.eraseToAnyPublisher();
  AnyPublisher<int64_t> decoded(
      [upstream, decode](std::shared_ptr<Subscriber<int64_t>> downstream) {
        upstream.subscribe(std::make_shared<AttachedReplyNode<int64_t, decltype(decode)>>(
            std::move(downstream), decode));
      });
  std::vector<size_t> descriptorCounts;
  auto subscription = decoded.sink(
      [&](const int64_t&) { descriptorCounts.push_back(ReplyAttachments::take().size()); });

  XPCMessage withFile;
  withFile.attachments = std::make_shared<ReplyAttachments::Descriptors>();
  withFile.attachments->emplace_back(::open("/dev/null", O_RDONLY | O_CLOEXEC));
  // The receiving thread's own scope holds nothing; the relaying thread has no scope at all.
  std::thread relay([&] { replies.send(withFile); });
  relay.join();
  {
    ReplyAttachments::Scope unrelated(std::make_shared<ReplyAttachments::Descriptors>());
    ReplyAttachments::attach(platform::xpc::UniqueFd(::open("/dev/null", O_RDONLY | O_CLOEXEC)));
    replies.send(XPCMessage());
  }
  EXPECT_EQ(descriptorCounts, (std::vector<size_t>{1, 0}));
}

} // namespace
} // namespace ipc
