#pragma once

#include "platform/foundation/NSError.h"
#include "platform/xpc/BufferBudget.h"
#include "platform/xpc/Frame.h"
#include "platform/xpc/Message.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <sys/uio.h>
#include <vector>

namespace platform::xpc {

// The frames one connection has yet to write, oldest first. Writing never blocks: flush()
// sends what the socket takes now and keeps the rest for the next time the socket is
// writable, so a peer that reads slowly or not at all holds bytes, never a thread. Queued
// bytes are charged to a budget shared by all connections. Not thread-safe: the connection
// serialises access; only send() may run beside it, on a batch prepared before.
class OutgoingFrames {
public:
  enum class FlushOutcome {
    drained,    // everything queued is written
    wouldBlock, // the socket takes no more for now; the rest stays queued
    failed,     // the socket failed: the connection must end
  };

  // One gathered write of the frames at the front of the queue. It is prepared under the
  // connection's lock and sent outside it, so that other threads queue frames meanwhile
  // instead of waiting for the system call; the frames it points to stay in place until
  // consume() (a deque keeps its elements where they are while it grows at the back).
  struct Batch {
    static constexpr size_t kMaxFrames = 64;
    iovec vectors[2 * kMaxFrames];
    size_t vectorCount = 0;
    std::vector<uint8_t> control; // the descriptors of the first frame, if it carries any
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

  // Points `batch` at the front frames: the rest of the first one and whole frames after it,
  // up to one that carries descriptors (they travel with the first byte of a write of their
  // own). False when nothing is queued.
  bool prepare(Batch& batch) const;
  // One sendmsg of `batch`, touching nothing of the queue: `drained` when the socket took
  // bytes (their number in `written`), `wouldBlock` when it took none.
  static FlushOutcome send(int socket, Batch& batch, size_t& written, NSError* error);
  // Counts `written` bytes of the front frames as sent; frames written whole leave the queue.
  void consume(size_t written);
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
