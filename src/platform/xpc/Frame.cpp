#include "platform/xpc/Frame.h"

#include "platform/xpc/TransportError.h"

#include <cstring>
#include <string>

namespace platform::xpc {
namespace {

// Byte order is handled here and nowhere else.
template <typename T> void storeLittleEndian(T value, uint8_t* out) {
  for (size_t index = 0; index < sizeof(T); ++index) {
    out[index] = static_cast<uint8_t>(value >> (8 * index));
  }
}

template <typename T> T loadLittleEndian(const uint8_t* bytes) {
  T value = 0;
  for (size_t index = 0; index < sizeof(T); ++index) {
    value |= static_cast<T>(static_cast<T>(bytes[index]) << (8 * index));
  }
  return value;
}

std::optional<FrameHeader> malformed(NSError* error, TransportErrorCode code, std::string text) {
  setError(error, makeTransportError(code, std::move(text)));
  return std::nullopt;
}

} // namespace

void encodeFrameHeader(const FrameHeader& header, uint8_t* out) {
  std::memcpy(out, kFrameMagic, sizeof(kFrameMagic));
  out[4] = kFrameVersion;
  out[5] = static_cast<uint8_t>(header.kind);
  storeLittleEndian<uint16_t>(header.descriptorCount, out + 6);
  storeLittleEndian<uint32_t>(header.payloadLength, out + 8);
  storeLittleEndian<uint32_t>(0, out + 12);
  storeLittleEndian<uint64_t>(header.callId, out + 16);
}

std::optional<FrameHeader> decodeFrameHeader(const uint8_t* bytes, const TransportLimits& limits,
                                             NSError* error) {
  if (std::memcmp(bytes, kFrameMagic, sizeof(kFrameMagic)) != 0) {
    return malformed(error, TransportErrorCode::malformedFrame, "Frame has a wrong magic.");
  }
  if (bytes[4] != kFrameVersion) {
    return malformed(error, TransportErrorCode::malformedFrame,
                     "Frame has unsupported version " + std::to_string(bytes[4]) + ".");
  }
  const uint8_t kind = bytes[5];
  if (kind < static_cast<uint8_t>(FrameKind::callWithReply) ||
      kind > static_cast<uint8_t>(FrameKind::reply)) {
    return malformed(error, TransportErrorCode::malformedFrame,
                     "Frame has unknown kind " + std::to_string(kind) + ".");
  }
  if (loadLittleEndian<uint32_t>(bytes + 12) != 0) {
    return malformed(error, TransportErrorCode::malformedFrame, "Frame has reserved bits set.");
  }
  FrameHeader header;
  header.kind = static_cast<FrameKind>(kind);
  header.descriptorCount = loadLittleEndian<uint16_t>(bytes + 6);
  header.payloadLength = loadLittleEndian<uint32_t>(bytes + 8);
  header.callId = loadLittleEndian<uint64_t>(bytes + 16);
  if (header.payloadLength > limits.maxPayloadSize) {
    return malformed(error, TransportErrorCode::frameTooLarge,
                     "Frame of " + std::to_string(header.payloadLength) +
                         " bytes exceeds the cap of " + std::to_string(limits.maxPayloadSize) +
                         ".");
  }
  if (header.descriptorCount > limits.maxDescriptors) {
    return malformed(error, TransportErrorCode::tooManyDescriptors,
                     "Frame carries " + std::to_string(header.descriptorCount) +
                         " descriptors, more than " + std::to_string(limits.maxDescriptors) + ".");
  }
  const bool needsCallId = header.kind != FrameKind::callWithoutReply;
  if (needsCallId != (header.callId != 0)) {
    return malformed(error, TransportErrorCode::malformedFrame,
                     needsCallId ? "Frame lacks its call id."
                                 : "Call without reply has a call id.");
  }
  return header;
}

} // namespace platform::xpc
