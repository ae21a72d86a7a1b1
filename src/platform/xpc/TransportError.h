#pragma once

#include "platform/foundation/NSError.h"

#include <cstdint>
#include <string>

namespace platform::xpc {

// The domain of the errors that end a transport connection or refuse a send.
inline constexpr const char* TransportErrorDomain = "XPCTransportErrorDomain";

enum class TransportErrorCode : int64_t {
  invalidated = 1,        // this side invalidated the connection
  peerClosed = 2,         // the peer closed its end (end of stream)
  malformedFrame = 3,     // a frame header that does not follow the framing
  frameTooLarge = 4,      // a frame above the size cap
  tooManyDescriptors = 5, // descriptors above the cap, or descriptors no frame claims
  ioFailure = 6,          // a socket call failed; the POSIX error is the underlying error
  untrustedPeer = 7,      // the server of a privileged helper does not run as root
  invalidServiceName = 8, // a service name that cannot name a socket file
  listenerFailure = 9,    // the listening socket could not be set up
  bufferBudgetSpent = 10, // the buffers shared by all connections cannot take more bytes
  peerNotReading = 11,    // queued bytes found no room in the peer's socket for too long
};

// An error of the transport domain, with an optional underlying POSIX error.
NSError makeTransportError(TransportErrorCode code, std::string description, int errnoValue = 0);

} // namespace platform::xpc
