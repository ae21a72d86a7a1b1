#pragma once

#include "platform/foundation/Base64.h"
#include "platform/foundation/NSError.h"
#include "platform/xpc/BufferBudget.h"
#include "platform/xpc/Frame.h"
#include "platform/xpc/UniqueFd.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <vector>

namespace platform::xpc {

// One whole frame as it came off the socket, owning its descriptors.
struct ReceivedFrame {
  FrameHeader header;
  Bytes payload;
  std::vector<UniqueFd> descriptors;
};

enum class ReadOutcome {
  progress,    // bytes arrived; more may be waiting
  wouldBlock,  // nothing more to read right now
  endOfStream, // the peer closed its end
  failed,      // a socket error or a frame that breaks the framing: the connection must end
};

// Reassembles frames from a stream socket without ever blocking. Holds a partial frame
// between reads, so a peer that stops mid-frame costs only its buffered bytes. The buffer
// grows with the bytes that actually arrive (never ahead to a declared length) and shrinks
// back after a large frame. Not thread-safe: one reader at a time.
class FrameReader {
public:
  // Buffer space beyond the first 64 KiB is charged to `budget`.
  explicit FrameReader(TransportLimits limits,
                       std::shared_ptr<BufferBudget> budget = BufferBudget::shared());
  ~FrameReader();
  FrameReader(const FrameReader&) = delete;
  FrameReader& operator=(const FrameReader&) = delete;

  // One non-blocking recvmsg; appends every frame completed by it to `frames`. Descriptors
  // arrive close-on-exec; any that no frame claims, or that exceed the cap, are closed and
  // end the stream with `failed`.
  ReadOutcome readOnce(int socket, std::vector<ReceivedFrame>& frames, NSError* error);

  // Changes the largest payload accepted from now on (any thread): a connection starts with a
  // small cap until its peer has proven who it is. A frame whose header was already read keeps
  // the cap it was checked against.
  void setMaxPayloadSize(uint32_t size) { maxPayloadSize_.store(size, std::memory_order_relaxed); }
  uint32_t maxPayloadSize() const { return maxPayloadSize_.load(std::memory_order_relaxed); }

  // Whether bytes of an unfinished frame are buffered.
  bool hasPartialFrame() const { return end_ > start_; }
  size_t bufferCapacityForTest() const { return capacity_; }

private:
  bool takeCompleteFrames(std::vector<ReceivedFrame>& frames, NSError* error);
  bool makeRoomForRead(NSError* error);
  void resizeBuffer(size_t capacity);
  size_t bytesNeededForCurrentFrame() const;

  TransportLimits limits_;
  std::shared_ptr<BufferBudget> budget_;
  std::atomic<uint32_t> maxPayloadSize_;
  std::unique_ptr<uint8_t[]> buffer_;
  size_t capacity_ = 0;
  size_t start_ = 0; // first unconsumed byte
  size_t end_ = 0;   // one past the last received byte
  std::optional<FrameHeader> currentHeader_;
  std::deque<UniqueFd> descriptors_;
  std::vector<uint8_t> controlBuffer_;
};

} // namespace platform::xpc
