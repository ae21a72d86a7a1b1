#pragma once

#include "platform/foundation/URL.h"

#include <string>
#include <string_view>

namespace platform {

// `text` with every byte that does not start a valid UTF-8 sequence replaced by U+FFFD, the way
// the platform turns foreign bytes into a string. Texts that reach JSON (error descriptions that
// quote file names, for example) pass through here, since JSON text must be UTF-8.
inline std::string repairingInvalidUTF8(std::string text) {
  if (isValidUTF8(text)) {
    return text;
  }
  std::string repaired;
  repaired.reserve(text.size() + 8);
  size_t i = 0;
  while (i < text.size()) {
    unsigned char lead = static_cast<unsigned char>(text[i]);
    size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
    if (length != 0 && i + length <= text.size() &&
        isValidUTF8(std::string_view(text).substr(i, length))) {
      repaired.append(text, i, length);
      i += length;
    } else {
      repaired.append("\xEF\xBF\xBD");
      ++i;
    }
  }
  return repaired;
}

} // namespace platform
