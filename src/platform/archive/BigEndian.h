#pragma once

#include <cstddef>
#include <cstdint>

namespace platform::archive {

// Reads a big-endian unsigned integer of `size` bytes (1 to 8), as binary property lists store
// their offsets, references and integers.
inline uint64_t readBigEndian(const uint8_t* bytes, size_t size) {
  uint64_t value = 0;
  for (size_t i = 0; i < size; ++i) {
    value = (value << 8) | bytes[i];
  }
  return value;
}

} // namespace platform::archive
