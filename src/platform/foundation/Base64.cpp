#include "platform/foundation/Base64.h"

#include "platform/posix/HugePages.h"

#include <array>

namespace platform {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::array<int8_t, 256> makeDecodeTable() {
  std::array<int8_t, 256> table{};
  for (auto& entry : table) {
    entry = -1;
  }
  for (int i = 0; i < 64; ++i) {
    table[static_cast<unsigned char>(kAlphabet[i])] = static_cast<int8_t>(i);
  }
  return table;
}

constexpr auto kDecodeTable = makeDecodeTable();

} // namespace

std::string base64Encode(const uint8_t* data, size_t size) {
  std::string out;
  out.reserve((size + 2) / 3 * 4);
  posix::adviseHugePages(out.data(), out.capacity());
  out.resize((size + 2) / 3 * 4);
  size_t o = 0;
  size_t i = 0;
  for (; i + 3 <= size; i += 3) {
    uint32_t v = (uint32_t(data[i]) << 16) | (uint32_t(data[i + 1]) << 8) | data[i + 2];
    out[o++] = kAlphabet[v >> 18];
    out[o++] = kAlphabet[(v >> 12) & 63];
    out[o++] = kAlphabet[(v >> 6) & 63];
    out[o++] = kAlphabet[v & 63];
  }
  if (size - i == 1) {
    uint32_t v = uint32_t(data[i]) << 16;
    out[o++] = kAlphabet[v >> 18];
    out[o++] = kAlphabet[(v >> 12) & 63];
    out[o++] = '=';
    out[o++] = '=';
  } else if (size - i == 2) {
    uint32_t v = (uint32_t(data[i]) << 16) | (uint32_t(data[i + 1]) << 8);
    out[o++] = kAlphabet[v >> 18];
    out[o++] = kAlphabet[(v >> 12) & 63];
    out[o++] = kAlphabet[(v >> 6) & 63];
    out[o++] = '=';
  }
  return out;
}

std::optional<Bytes> base64Decode(std::string_view text) {
  if (text.size() % 4 != 0) {
    return std::nullopt;
  }
  size_t padding = 0;
  if (!text.empty() && text.back() == '=') {
    padding = text.size() >= 2 && text[text.size() - 2] == '=' ? 2 : 1;
  }
  Bytes out;
  out.reserve(text.size() / 4 * 3 - padding);
  posix::adviseHugePages(out.data(), out.capacity());
  out.resize(text.size() / 4 * 3 - padding);
  const auto* in = reinterpret_cast<const unsigned char*>(text.data());
  uint8_t* o = out.data();
  // Every quantum but the last has no padding: four table lookups, one check for them all.
  const size_t fullQuanta = text.empty() ? 0 : text.size() / 4 - 1;
  for (size_t q = 0; q < fullQuanta; ++q, in += 4, o += 3) {
    const int32_t a = kDecodeTable[in[0]];
    const int32_t b = kDecodeTable[in[1]];
    const int32_t c = kDecodeTable[in[2]];
    const int32_t d = kDecodeTable[in[3]];
    if ((a | b | c | d) < 0) {
      return std::nullopt;
    }
    const uint32_t v = (uint32_t(a) << 18) | (uint32_t(b) << 12) | (uint32_t(c) << 6) | uint32_t(d);
    o[0] = static_cast<uint8_t>(v >> 16);
    o[1] = static_cast<uint8_t>(v >> 8);
    o[2] = static_cast<uint8_t>(v);
  }
  if (text.empty()) {
    return out;
  }
  uint32_t v = 0;
  for (size_t k = 0; k < 4; ++k) {
    if (in[k] == '=' && k >= 4 - padding) {
      v <<= 6;
      continue;
    }
    const int8_t d = kDecodeTable[in[k]];
    if (d < 0) {
      return std::nullopt;
    }
    v = (v << 6) | static_cast<uint32_t>(d);
  }
  o[0] = static_cast<uint8_t>(v >> 16);
  if (padding < 2) {
    o[1] = static_cast<uint8_t>(v >> 8);
  }
  if (padding < 1) {
    o[2] = static_cast<uint8_t>(v);
  }
  return out;
}

} // namespace platform
