#pragma once

#include "platform/foundation/NSError.h"
#include "platform/xpc/TransportOptions.h"

#include <cstddef>
#include <cstdint>
#include <optional>

namespace platform::xpc {

// What a frame is. A reply echoes the call id of the call-with-reply it answers.
enum class FrameKind : uint8_t {
  callWithReply = 1,
  callWithoutReply = 2,
  reply = 3,
};

// The fixed header in front of every payload, all integers little-endian:
//   0  4 bytes  magic "XPCF"
//   4  1 byte   version (1)
//   5  1 byte   kind (FrameKind)
//   6  2 bytes  number of descriptors attached to the frame
//   8  4 bytes  payload length in bytes
//  12  4 bytes  reserved, zero
//  16  8 bytes  call id (0 for a call without reply, non-zero otherwise)
inline constexpr size_t kFrameHeaderSize = 24;
inline constexpr uint8_t kFrameMagic[4] = {'X', 'P', 'C', 'F'};
inline constexpr uint8_t kFrameVersion = 1;

struct FrameHeader {
  FrameKind kind = FrameKind::callWithoutReply;
  uint16_t descriptorCount = 0;
  uint32_t payloadLength = 0;
  uint64_t callId = 0;

  bool operator==(const FrameHeader&) const = default;
};

// Writes the header's kFrameHeaderSize bytes to `out`.
void encodeFrameHeader(const FrameHeader& header, uint8_t* out);

// Validates the kFrameHeaderSize bytes at `bytes` in one pass (magic, version, kind, reserved
// bits, payload length, descriptor count, call id) and gives the header, or none with a
// transport error naming the first fault.
std::optional<FrameHeader> decodeFrameHeader(const uint8_t* bytes, const TransportLimits& limits,
                                             NSError* error);

} // namespace platform::xpc
