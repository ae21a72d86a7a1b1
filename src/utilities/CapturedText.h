#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace utilities {

// The text a tool printed, as the task runner hands it back: the bytes decoded as UTF-8 (an
// invalid sequence becomes U+FFFD, so that output in another encoding still counts as output),
// and none when nothing but whitespace and newlines was printed. Non-blank text is returned
// untrimmed.
std::optional<std::string> capturedText(std::string_view bytes);

// Whether `text` consists only of whitespace and newline characters (Unicode's set, which is
// what the platform trims).
bool isBlank(std::string_view text);

// `bytes` with every invalid UTF-8 sequence replaced by U+FFFD.
std::string decodeUTF8Lossy(std::string_view bytes);

} // namespace utilities
