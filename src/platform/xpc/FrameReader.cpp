#include "platform/xpc/FrameReader.h"

#include "platform/posix/HugePages.h"
#include "platform/posix/RetryOnInterrupt.h"
#include "platform/xpc/TransportError.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <sys/socket.h>

namespace platform::xpc {
namespace {

constexpr size_t kDefaultCapacity = 64 * 1024;
// Below this much free space at the end, unconsumed bytes move to the front before reading.
constexpr size_t kMinimumReadSpace = 4 * 1024;

} // namespace

FrameReader::FrameReader(TransportLimits limits, std::shared_ptr<BufferBudget> budget)
    : limits_(limits), budget_(std::move(budget)), maxPayloadSize_(limits.maxPayloadSize),
      buffer_(std::make_unique_for_overwrite<uint8_t[]>(kDefaultCapacity)),
      capacity_(kDefaultCapacity),
      controlBuffer_(CMSG_SPACE(sizeof(int) * std::max<size_t>(limits.maxDescriptors, 1))) {}

FrameReader::~FrameReader() {
  budget_->give(capacity_ - kDefaultCapacity);
}

size_t FrameReader::bytesNeededForCurrentFrame() const {
  if (!currentHeader_) {
    return kFrameHeaderSize;
  }
  return kFrameHeaderSize + currentHeader_->payloadLength;
}

void FrameReader::resizeBuffer(size_t capacity) {
  auto resized = std::make_unique_for_overwrite<uint8_t[]>(capacity);
  posix::adviseHugePages(resized.get(), capacity);
  std::memcpy(resized.get(), buffer_.get(), end_);
  buffer_ = std::move(resized);
  if (capacity < capacity_) {
    budget_->give(capacity_ - capacity);
  }
  capacity_ = capacity;
}

bool FrameReader::makeRoomForRead(NSError* error) {
  const size_t buffered = end_ - start_;
  if (buffered == 0) {
    start_ = end_ = 0;
    if (capacity_ > kDefaultCapacity) { // give back what a large frame needed
      resizeBuffer(kDefaultCapacity);
    }
    return true;
  }
  const size_t needed = bytesNeededForCurrentFrame();
  const bool frameDoesNotFit = start_ + needed > capacity_;
  if (start_ > 0 && (capacity_ - end_ < kMinimumReadSpace || frameDoesNotFit)) {
    std::memmove(buffer_.get(), buffer_.get() + start_, buffered);
    start_ = 0;
    end_ = buffered;
  }
  if (end_ < capacity_ || needed <= capacity_) {
    return true;
  }
  // Full, and the frame is larger: grow by doubling, never past the frame itself, so memory
  // follows the bytes the peer really sent.
  const size_t newCapacity = std::min(needed, capacity_ * 2);
  if (!budget_->tryTake(newCapacity - capacity_)) {
    setError(error, makeTransportError(TransportErrorCode::bufferBudgetSpent,
                                       "The buffers of all connections are full; a frame of " +
                                           std::to_string(needed) + " bytes cannot be received."));
    return false;
  }
  resizeBuffer(newCapacity);
  return true;
}

ReadOutcome FrameReader::readOnce(int socket, std::vector<ReceivedFrame>& frames, NSError* error) {
  if (!makeRoomForRead(error)) {
    return ReadOutcome::failed;
  }
  iovec vector{buffer_.get() + end_, capacity_ - end_};
  msghdr message{};
  message.msg_iov = &vector;
  message.msg_iovlen = 1;
  message.msg_control = controlBuffer_.data();
  message.msg_controllen = controlBuffer_.size();
  const ssize_t received = posix::retryOnInterrupt(
      [&] { return ::recvmsg(socket, &message, MSG_DONTWAIT | MSG_CMSG_CLOEXEC); });
  if (received < 0) {
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      return ReadOutcome::wouldBlock;
    }
    setError(error, makeTransportError(TransportErrorCode::ioFailure, "Reading failed.", errno));
    return ReadOutcome::failed;
  }
  // Take ownership of every descriptor first, so that each one is closed on any way out.
  for (cmsghdr* header = CMSG_FIRSTHDR(&message); header != nullptr;
       header = CMSG_NXTHDR(&message, header)) {
    if (header->cmsg_level != SOL_SOCKET || header->cmsg_type != SCM_RIGHTS) {
      continue;
    }
    const size_t count = (header->cmsg_len - CMSG_LEN(0)) / sizeof(int);
    const uint8_t* data = CMSG_DATA(header);
    for (size_t index = 0; index < count; ++index) {
      int descriptor;
      std::memcpy(&descriptor, data + index * sizeof(int), sizeof(int));
      descriptors_.emplace_back(descriptor);
    }
  }
  if ((message.msg_flags & MSG_CTRUNC) != 0) {
    descriptors_.clear();
    setError(error, makeTransportError(TransportErrorCode::tooManyDescriptors,
                                       "Peer sent more descriptors than accepted."));
    return ReadOutcome::failed;
  }
  if (received == 0) {
    return ReadOutcome::endOfStream;
  }
  end_ += static_cast<size_t>(received);
  if (!takeCompleteFrames(frames, error)) {
    descriptors_.clear();
    return ReadOutcome::failed;
  }
  return ReadOutcome::progress;
}

bool FrameReader::takeCompleteFrames(std::vector<ReceivedFrame>& frames, NSError* error) {
  while (true) {
    const size_t buffered = end_ - start_;
    if (!currentHeader_) {
      if (buffered < kFrameHeaderSize) {
        break;
      }
      TransportLimits current = limits_;
      current.maxPayloadSize = maxPayloadSize();
      currentHeader_ = decodeFrameHeader(buffer_.get() + start_, current, error);
      if (!currentHeader_) {
        return false;
      }
    }
    const size_t frameSize = kFrameHeaderSize + currentHeader_->payloadLength;
    if (buffered < frameSize) {
      break;
    }
    // A frame's descriptors arrive with its first byte, so they are here once it is whole.
    if (descriptors_.size() < currentHeader_->descriptorCount) {
      setError(error, makeTransportError(TransportErrorCode::tooManyDescriptors,
                                         "Frame lacks the descriptors it declares."));
      return false;
    }
    ReceivedFrame frame;
    frame.header = *currentHeader_;
    const uint8_t* payload = buffer_.get() + start_ + kFrameHeaderSize;
    frame.payload.reserve(currentHeader_->payloadLength);
    posix::adviseHugePages(frame.payload.data(), frame.payload.capacity());
    frame.payload.assign(payload, payload + currentHeader_->payloadLength);
    frame.descriptors.reserve(currentHeader_->descriptorCount);
    for (uint16_t index = 0; index < currentHeader_->descriptorCount; ++index) {
      frame.descriptors.push_back(std::move(descriptors_.front()));
      descriptors_.pop_front();
    }
    frames.push_back(std::move(frame));
    start_ += frameSize;
    currentHeader_.reset();
  }
  // Descriptors that no frame can claim any more are refused rather than kept.
  size_t claimable = 0;
  if (currentHeader_) {
    claimable = currentHeader_->descriptorCount;
  } else if (end_ > start_) {
    claimable = limits_.maxDescriptors;
  }
  if (descriptors_.size() > claimable) {
    setError(error, makeTransportError(TransportErrorCode::tooManyDescriptors,
                                       "Peer sent descriptors that no frame claims."));
    return false;
  }
  return true;
}

} // namespace platform::xpc
