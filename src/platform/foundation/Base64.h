#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

using Bytes = std::vector<uint8_t>;

// Standard alphabet with padding and no line breaks.
std::string base64Encode(const uint8_t* data, size_t size);
inline std::string base64Encode(const Bytes& data) {
  return base64Encode(data.data(), data.size());
}
inline std::string base64Encode(std::string_view data) {
  return base64Encode(reinterpret_cast<const uint8_t*>(data.data()), data.size());
}
// Strict decoding: the length must be a multiple of four, padding only at the end, no
// characters outside the alphabet. None otherwise.
std::optional<Bytes> base64Decode(std::string_view text);

} // namespace platform
