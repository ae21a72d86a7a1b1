#include "platform/foundation/LogText.h"

#include "platform/foundation/URL.h"

#include <cstdio>

namespace platform {

namespace {

void appendEscaped(std::string& out, unsigned char byte) {
  char text[5];
  std::snprintf(text, sizeof text, "\\x%02X", byte);
  out += text;
}

// The length of the valid UTF-8 sequence that starts at `text[index]`, or 0.
size_t validSequenceLength(std::string_view text, size_t index) {
  const auto lead = static_cast<unsigned char>(text[index]);
  const size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
  if (length == 0 || index + length > text.size() || !isValidUTF8(text.substr(index, length))) {
    return 0;
  }
  return length;
}

// `text` with what could forge or hide a log line escaped; with `quote`, the double quote too.
std::string escaped(std::string_view text, bool quote) {
  std::string out;
  out.reserve(text.size());
  size_t index = 0;
  while (index < text.size()) {
    const auto byte = static_cast<unsigned char>(text[index]);
    if (byte == '\\') {
      out += "\\\\";
      ++index;
    } else if (byte < 0x20 || byte == 0x7F || (quote && byte == '"')) {
      appendEscaped(out, byte);
      ++index;
    } else if (byte < 0x80) {
      out += static_cast<char>(byte);
      ++index;
    } else if (size_t length = validSequenceLength(text, index); length != 0) {
      out.append(text.substr(index, length));
      index += length;
    } else {
      appendEscaped(out, byte);
      ++index;
    }
  }
  return out;
}

} // namespace

std::string escapedForLog(std::string_view text) {
  return escaped(text, false);
}

std::string quotedForLog(std::string_view text, size_t maxBytes) {
  if (text.size() <= maxBytes) {
    return "\"" + escaped(text, true) + "\"";
  }
  size_t cut = maxBytes;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) {
    --cut;
  }
  return "\"" + escaped(text.substr(0, cut), true) + "...(" + std::to_string(text.size() - cut) +
         " more bytes)\"";
}

} // namespace platform
