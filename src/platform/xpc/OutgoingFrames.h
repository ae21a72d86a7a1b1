#pragma once

#include "platform/foundation/NSError.h"
#include "platform/xpc/BufferBudget.h"
#include "platform/xpc/Frame.h"
#include "platform/xpc/Message.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>

namespace platform::xpc {

// The frames one connection has yet to write, oldest first. Writing never blocks: flush()
// sends what the socket takes now and keeps the rest for the next time the socket is
// writable, so a peer that reads slowly or not at all holds bytes, never a thread. Queued
// bytes are charged to a budget shared by all connections. Not thread-safe: the connection
// serialises access.
class OutgoingFrames {
public:
  enum class FlushOutcome {
    drained,    // everything queued is written
    wouldBlock, // the socket takes no more for now; the rest stays queued
    failed,     // the socket failed: the connection must end
  };

  explicit OutgoingFrames(std::shared_ptr<BufferBudget> budget);
  ~OutgoingFrames();
  OutgoingFrames(const OutgoingFrames&) = delete;
  OutgoingFrames& operator=(const OutgoingFrames&) = delete;

  // Queues one frame, taking its payload and descriptors; false, with nothing queued, when
  // the budget cannot hold it.
  bool push(const FrameHeader& header, Message message);
  // Writes queued frames until all are written or the socket would block. Descriptors travel
  // with the first byte of their frame; SIGPIPE is never raised.
  FlushOutcome flush(int socket, NSError* error);
  // Drops every queued frame (the connection ended).
  void clear();

  // Once a frame of at least this size is written, the process's freed memory is returned to
  // the system.
  static constexpr size_t kLargeFrameSize = 8 * 1024 * 1024;

  bool empty() const { return frames_.empty(); }
  // Bytes queued and not yet written.
  size_t bytes() const { return bytes_; }

private:
  struct Frame {
    uint8_t header[kFrameHeaderSize];
    Message message;
    size_t written = 0; // bytes of header and payload already on the wire

    size_t size() const { return kFrameHeaderSize + message.payload.size(); }
  };
  std::shared_ptr<BufferBudget> budget_;
  std::deque<Frame> frames_;
  size_t bytes_ = 0;
};

} // namespace platform::xpc
