#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace platform::xpc {

class BufferBudget;
class WorkerPool;

// The bounds that the reader enforces on every frame a peer sends, and that the writer
// enforces on our own frames.
struct TransportLimits {
  // A larger declared frame ends the connection; large enough for the biggest reply (an
  // enumeration of a million entries).
  uint32_t maxPayloadSize = 256u * 1024u * 1024u;
  uint16_t maxDescriptors = 16; // descriptors per frame
  // While more than this many bytes wait to be written to the peer, its calls are not read:
  // a peer that does not read its replies is not served more of them.
  size_t maxQueuedBytes = 1024u * 1024u;
  // Calls of one peer being handled at once (answered or not yet); beyond, its further calls
  // wait in the socket until one is answered.
  uint32_t maxCallsInFlight = 64;
};

enum class TransportLogLevel { debug, info, error };

// Receives the transport's diagnostics (dropped replies, refused frames, failed calls).
using TransportLogger = std::function<void(TransportLogLevel level, const std::string& text)>;

// Settings shared by a listener and the connections it accepts, or by a client connection.
struct TransportOptions {
  TransportLimits limits;
  // Queued bytes that the peer does not take for this long end the connection, so that a peer
  // that stops reading holds its buffers no longer.
  std::chrono::milliseconds sendTimeout{30'000};
  // What all connections may buffer together; the process-wide budget when empty.
  std::shared_ptr<BufferBudget> budget;
  TransportLogger logger;
  // Deliver the incoming calls of a connection one at a time, in the order they arrived, instead
  // of side by side (a client whose peer pushes an ordered stream, such as sequence elements).
  bool orderedCalls = false;
  // The pool that reads the sockets and runs the handlers; the process-wide pool when empty.
  std::shared_ptr<WorkerPool> pool;
};

} // namespace platform::xpc
