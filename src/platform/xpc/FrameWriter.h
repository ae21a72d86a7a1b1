#pragma once

#include "platform/foundation/NSError.h"
#include "platform/xpc/Frame.h"

#include <cstdint>
#include <span>

namespace platform::xpc {

// Writes one whole frame (header, payload, and the descriptors attached to its first byte) to
// a blocking stream socket, resuming after short writes and EINTR, never raising SIGPIPE. The
// caller serialises writers. A send timeout on the socket (SO_SNDTIMEO) surfaces as a failure.
bool writeFrame(int socket, const FrameHeader& header, std::span<const uint8_t> payload,
                std::span<const int> descriptors, NSError* error);

} // namespace platform::xpc
