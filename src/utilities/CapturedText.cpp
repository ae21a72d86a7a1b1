#include "utilities/CapturedText.h"

#include <cstdint>

namespace utilities {
namespace {

constexpr const char* kReplacementCharacter = "\xEF\xBF\xBD";

// Length of the valid UTF-8 sequence starting at `index`, 0 when it is invalid; the code point
// is stored in `codePoint`.
size_t validSequenceLength(std::string_view bytes, size_t index, uint32_t& codePoint) {
  const auto lead = static_cast<unsigned char>(bytes[index]);
  size_t length = 0;
  uint32_t minimum = 0;
  if (lead < 0x80) {
    codePoint = lead;
    return 1;
  } else if ((lead & 0xE0) == 0xC0) {
    length = 2, minimum = 0x80, codePoint = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, minimum = 0x800, codePoint = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, minimum = 0x10000, codePoint = lead & 0x07;
  } else {
    return 0;
  }
  if (index + length > bytes.size()) {
    return 0;
  }
  for (size_t offset = 1; offset < length; ++offset) {
    const auto next = static_cast<unsigned char>(bytes[index + offset]);
    if ((next & 0xC0) != 0x80) {
      return 0;
    }
    codePoint = (codePoint << 6) | (next & 0x3F);
  }
  const bool surrogate = codePoint >= 0xD800 && codePoint <= 0xDFFF;
  if (codePoint < minimum || codePoint > 0x10FFFF || surrogate) {
    return 0;
  }
  return length;
}

bool isWhitespaceOrNewline(uint32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
         c == 0x3000;
}

} // namespace

std::string decodeUTF8Lossy(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  size_t index = 0;
  while (index < bytes.size()) {
    uint32_t codePoint = 0;
    size_t length = validSequenceLength(bytes, index, codePoint);
    if (length == 0) {
      out += kReplacementCharacter;
      ++index;
      continue;
    }
    out.append(bytes.substr(index, length));
    index += length;
  }
  return out;
}

bool isBlank(std::string_view text) {
  size_t index = 0;
  while (index < text.size()) {
    uint32_t codePoint = 0;
    size_t length = validSequenceLength(text, index, codePoint);
    if (length == 0 || !isWhitespaceOrNewline(codePoint)) {
      return false;
    }
    index += length;
  }
  return true;
}

std::optional<std::string> capturedText(std::string_view bytes) {
  std::string text = decodeUTF8Lossy(bytes);
  if (isBlank(text)) {
    return std::nullopt;
  }
  return text;
}

} // namespace utilities
