#pragma once

#include <cstdint>

namespace ipc {

// The kind bits of a message. Bits outside the six defined ones are kept as they arrive; only
// receivers judge them.
struct XPCMessageFlag {
  uint32_t rawValue = 0;

  static constexpr XPCMessageFlag sequence() { return {1}; }
  static constexpr XPCMessageFlag acknowledge() { return {2}; }
  static constexpr XPCMessageFlag payload() { return {4}; }
  static constexpr XPCMessageFlag error() { return {8}; }
  static constexpr XPCMessageFlag cancel() { return {16}; }
  static constexpr XPCMessageFlag handshake() { return {32}; }

  // True when every bit of `other` is set here.
  constexpr bool contains(XPCMessageFlag other) const {
    return (rawValue & other.rawValue) == other.rawValue;
  }
  constexpr XPCMessageFlag operator|(XPCMessageFlag other) const {
    return {rawValue | other.rawValue};
  }
  constexpr bool operator==(const XPCMessageFlag&) const = default;
};

} // namespace ipc
