#include "platform/xpc/OutgoingFrames.h"

#include "platform/posix/RetryOnInterrupt.h"
#include "platform/xpc/TransportError.h"

#include <algorithm>
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
  Batch batch;
  while (prepare(batch)) {
    size_t written = 0;
    const FlushOutcome outcome = send(socket, batch, written, error);
    if (outcome != FlushOutcome::drained) {
      return outcome;
    }
    consume(written);
  }
  return FlushOutcome::drained;
}

bool OutgoingFrames::prepare(Batch& batch) const {
  batch.vectorCount = 0;
  batch.control.clear();
  size_t taken = 0;
  for (const Frame& frame : frames_) {
    const auto& descriptors = frame.message.descriptors;
    if (taken == Batch::kMaxFrames || (taken > 0 && !descriptors.empty())) {
      break;
    }
    if (frame.written < kFrameHeaderSize) {
      batch.vectors[batch.vectorCount++] = {const_cast<uint8_t*>(frame.header) + frame.written,
                                            kFrameHeaderSize - frame.written};
    }
    const size_t payloadWritten =
        frame.written > kFrameHeaderSize ? frame.written - kFrameHeaderSize : 0;
    if (payloadWritten < frame.message.payload.size()) {
      batch.vectors[batch.vectorCount++] = {const_cast<uint8_t*>(frame.message.payload.data()) +
                                                payloadWritten,
                                            frame.message.payload.size() - payloadWritten};
    }
    if (taken == 0 && frame.written == 0 && !descriptors.empty()) {
      batch.control.assign(CMSG_SPACE(sizeof(int) * descriptors.size()), 0);
      msghdr header{};
      header.msg_control = batch.control.data();
      header.msg_controllen = batch.control.size();
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
    ++taken;
  }
  return taken > 0;
}

OutgoingFrames::FlushOutcome OutgoingFrames::send(int socket, Batch& batch, size_t& written,
                                                  NSError* error) {
  msghdr header{};
  header.msg_iov = batch.vectors;
  header.msg_iovlen = batch.vectorCount;
  if (!batch.control.empty()) {
    header.msg_control = batch.control.data();
    header.msg_controllen = batch.control.size();
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
  written = static_cast<size_t>(sent);
  return FlushOutcome::drained;
}

void OutgoingFrames::consume(size_t written) {
  bytes_ -= written;
  budget_->give(written);
  bool large = false;
  while (written > 0) {
    Frame& frame = frames_.front();
    const size_t step = std::min(written, frame.size() - frame.written);
    frame.written += step;
    written -= step;
    if (frame.written < frame.size()) {
      break; // a short write: the socket may take more, or say it would block
    }
    large = large || frame.message.payload.size() >= kLargeFrameSize;
    frames_.pop_front(); // its descriptors are the peer's now; ours close here
  }
  if (large) {
    // A reply of many megabytes was encoded through several buffers of its size, freed by now
    // but perhaps kept by the allocator: give them back, or an idle agent stays that large.
    ::malloc_trim(0);
  }
}

} // namespace platform::xpc
