#include "utilities/Log.h"

#include "platform/foundation/URL.h"
#include "platform/posix/ReadWrite.h"

#include <cerrno>
#include <cstdio>
#include <unistd.h>

namespace utilities {
namespace {

void appendEscapedByte(std::string& out, unsigned char byte) {
  static const char* hex = "0123456789abcdef";
  out += "\\x";
  out += hex[byte >> 4];
  out += hex[byte & 0xf];
}

// Array elements are quoted the way the platform quotes them: unless they consist only of
// letters, digits and a few path characters.
bool needsQuotes(std::string_view text) {
  if (text.empty()) {
    return true;
  }
  for (unsigned char c : text) {
    bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                 c == '_' || c == '.' || c == '/' || c == '$';
    if (!plain) {
      return true;
    }
  }
  return false;
}

} // namespace

std::string escapeForLog(std::string_view text) {
  // A log line stays readable even for an absurdly long untrusted argument.
  constexpr size_t kMaxArgumentBytes = 4096;
  const bool cut = text.size() > kMaxArgumentBytes;
  if (cut) {
    text = text.substr(0, kMaxArgumentBytes);
  }
  std::string out;
  out.reserve(text.size());
  const bool utf8 = platform::isValidUTF8(text);
  for (unsigned char c : text) {
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c < 0x20 || c == 0x7f || (!utf8 && c >= 0x80)) {
      appendEscapedByte(out, c);
    } else {
      out += static_cast<char>(c);
    }
  }
  if (cut) {
    out += "...";
  }
  return out;
}

std::string describeList(const std::vector<std::string>& items) {
  if (items.empty()) {
    return "(\n)";
  }
  std::string out = "(\n";
  for (size_t index = 0; index < items.size(); ++index) {
    out += "    ";
    if (needsQuotes(items[index])) {
      out += '"';
      for (char c : items[index]) {
        if (c == '"' || c == '\\') {
          out += '\\';
        }
        out += c;
      }
      out += '"';
    } else {
      out += items[index];
    }
    out += index + 1 < items.size() ? ",\n" : "\n";
  }
  return out + ")";
}

void log(std::string_view format, std::initializer_list<std::string_view> arguments) {
  std::string line;
  line.reserve(format.size() + 64);
  auto next = arguments.begin();
  for (size_t index = 0; index < format.size(); ++index) {
    const bool placeholder = format[index] == '%' && index + 1 < format.size() &&
                             (format[index + 1] == '@' || format[index + 1] == 'd');
    if (!placeholder) {
      line += format[index];
      continue;
    }
    ++index;
    line += next != arguments.end() ? escapeForLog(*next++) : std::string("(null)");
  }
  line += '\n';
  // One write per line keeps lines of concurrent callers whole.
  (void)platform::posix::writeAll(STDERR_FILENO, line);
}

std::string describeError(const platform::NSError& error) {
  return "Error Domain=" + error.domain() + " Code=" + std::to_string(error.code()) + " \"" +
         error.localizedDescription() + "\"";
}

} // namespace utilities
