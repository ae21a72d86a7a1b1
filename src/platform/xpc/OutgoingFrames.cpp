#include "platform/xpc/OutgoingFrames.h"

#include "platform/posix/RetryOnInterrupt.h"
#include "platform/xpc/TransportError.h"

#include <cerrno>
#include <cstring>
#include <malloc.h>
#include <sys/socket.h>
#include <vector>

namespace platform::xpc {

OutgoingFrames::OutgoingFrames(std::shared_ptr<BufferBudget> budget) : budget_(std::move(budget)) {}

OutgoingFrames::~OutgoingFrames() {
  clear();
}

bool OutgoingFrames::push(const FrameHeader& header, Message message) {
  const size_t size = kFrameHeaderSize + message.payload.size();
  if (!budget_->tryTake(size)) {
    return false;
  }
  Frame& frame = frames_.emplace_back();
  encodeFrameHeader(header, frame.header);
  frame.message = std::move(message);
  bytes_ += size;
  return true;
}

void OutgoingFrames::clear() {
  frames_.clear();
  budget_->give(bytes_);
  bytes_ = 0;
}

OutgoingFrames::FlushOutcome OutgoingFrames::flush(int socket, NSError* error) {
  while (!frames_.empty()) {
    Frame& frame = frames_.front();
    iovec vectors[2];
    int vectorCount = 0;
    if (frame.written < kFrameHeaderSize) {
      vectors[vectorCount++] = {frame.header + frame.written, kFrameHeaderSize - frame.written};
    }
    const size_t payloadWritten =
        frame.written > kFrameHeaderSize ? frame.written - kFrameHeaderSize : 0;
    if (payloadWritten < frame.message.payload.size()) {
      vectors[vectorCount++] = {frame.message.payload.data() + payloadWritten,
                                frame.message.payload.size() - payloadWritten};
    }
    msghdr header{};
    header.msg_iov = vectors;
    header.msg_iovlen = static_cast<size_t>(vectorCount);
    std::vector<uint8_t> control;
    const auto& descriptors = frame.message.descriptors;
    if (frame.written == 0 && !descriptors.empty()) {
      control.assign(CMSG_SPACE(sizeof(int) * descriptors.size()), 0);
      header.msg_control = control.data();
      header.msg_controllen = control.size();
      cmsghdr* rights = CMSG_FIRSTHDR(&header);
      rights->cmsg_level = SOL_SOCKET;
      rights->cmsg_type = SCM_RIGHTS;
      rights->cmsg_len = CMSG_LEN(sizeof(int) * descriptors.size());
      auto* slots = CMSG_DATA(rights);
      for (size_t index = 0; index < descriptors.size(); ++index) {
        const int descriptor = descriptors[index].get();
        std::memcpy(slots + index * sizeof(int), &descriptor, sizeof(int));
      }
    }
    const ssize_t sent = posix::retryOnInterrupt(
        [&] { return ::sendmsg(socket, &header, MSG_NOSIGNAL | MSG_DONTWAIT); });
    if (sent < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        return FlushOutcome::wouldBlock;
      }
      setError(error, makeTransportError(TransportErrorCode::ioFailure, "Writing failed.", errno));
      return FlushOutcome::failed;
    }
    frame.written += static_cast<size_t>(sent);
    bytes_ -= static_cast<size_t>(sent);
    budget_->give(static_cast<size_t>(sent));
    if (frame.written < frame.size()) {
      continue; // a short write: the socket may take more, or say it would block
    }
    const bool large = frame.message.payload.size() >= kLargeFrameSize;
    frames_.pop_front(); // its descriptors are the peer's now; ours close here
    if (large) {
      // A reply of many megabytes was encoded through several buffers of its size, freed by
      // now but perhaps kept by the allocator: give them back, or an idle agent stays that
      // large.
      ::malloc_trim(0);
    }
  }
  return FlushOutcome::drained;
}

} // namespace platform::xpc
