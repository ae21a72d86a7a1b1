#pragma once

#include <string>
#include <string_view>

namespace platform {

// `text` made safe to quote in a log line: control characters, DEL, the backslash and bytes
// that are not valid UTF-8 become "\xNN" (the backslash "\\"), so that a file name cannot
// start a forged line or hide what it is.
std::string escapedForLog(std::string_view text);
// `text` escaped as above, with the double quote as "\x22" too, between double quotes: a field
// of a key=value line that no text can end early.
// At most `maxBytes` of the text are shown (cut on a character boundary), followed inside the
// quotes by "...(N more bytes)".
std::string quotedForLog(std::string_view text, size_t maxBytes = std::string_view::npos);

} // namespace platform
