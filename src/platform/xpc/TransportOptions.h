#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace platform::xpc {

class WorkerPool;

// The bounds that the reader enforces on every frame a peer sends, and that the writer
// enforces on our own frames.
struct TransportLimits {
  uint32_t maxPayloadSize = 64u * 1024u * 1024u; // a larger declared frame ends the connection
  uint16_t maxDescriptors = 16;                  // descriptors per frame
};

enum class TransportLogLevel { debug, info, error };

// Receives the transport's diagnostics (dropped replies, refused frames, failed calls).
using TransportLogger = std::function<void(TransportLogLevel level, const std::string& text)>;

// Settings shared by a listener and the connections it accepts, or by a client connection.
struct TransportOptions {
  TransportLimits limits;
  // A send that cannot make progress for this long ends the connection, so that a peer that
  // stops reading cannot hold our threads forever.
  std::chrono::milliseconds sendTimeout{30'000};
  TransportLogger logger;
  // Deliver the incoming calls of a connection one at a time, in the order they arrived, instead
  // of side by side (a client whose peer pushes an ordered stream, such as sequence elements).
  bool orderedCalls = false;
  // The pool that reads the sockets and runs the handlers; the process-wide pool when empty.
  std::shared_ptr<WorkerPool> pool;
};

} // namespace platform::xpc
