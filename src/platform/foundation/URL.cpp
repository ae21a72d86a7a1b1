#include "platform/foundation/URL.h"

#include <cctype>

namespace platform {
namespace {

bool isUnreserved(unsigned char c) {
  return std::isalnum(c) != 0 || c == '-' || c == '.' || c == '_' || c == '~';
}

bool isPathCharacter(unsigned char c) {
  return isUnreserved(c) ||
         std::string_view("!$&'()*+,;=:@/").find(static_cast<char>(c)) != std::string_view::npos;
}

// Characters that may appear literally anywhere in a URL reference.
bool isURLCharacter(unsigned char c) {
  return isUnreserved(c) || std::string_view(":/?#[]@!$&'()*+,;=").find(static_cast<char>(c)) !=
                                std::string_view::npos;
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  return -1;
}

// Length of the scheme including its colon, or 0 when the text has none.
size_t schemeLength(std::string_view text) {
  if (text.empty() || std::isalpha(static_cast<unsigned char>(text[0])) == 0) {
    return 0;
  }
  for (size_t i = 1; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == ':') {
      return i + 1;
    }
    if (std::isalnum(c) == 0 && c != '+' && c != '-' && c != '.') {
      return 0;
    }
  }
  return 0;
}

} // namespace

bool isValidUTF8(std::string_view text) {
  size_t i = 0;
  while (i < text.size()) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    size_t extra = 0;
    uint32_t codePoint = 0;
    if (c < 0x80) {
      ++i;
      continue;
    } else if ((c & 0xE0) == 0xC0) {
      extra = 1;
      codePoint = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      extra = 2;
      codePoint = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      extra = 3;
      codePoint = c & 0x07;
    } else {
      return false;
    }
    if (extra >= text.size() - i) {
      return false;
    }
    for (size_t k = 1; k <= extra; ++k) {
      unsigned char next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) {
        return false;
      }
      codePoint = (codePoint << 6) | (next & 0x3F);
    }
    static constexpr uint32_t kMinimum[] = {0, 0x80, 0x800, 0x10000};
    if (codePoint < kMinimum[extra] || codePoint > 0x10FFFF ||
        (codePoint >= 0xD800 && codePoint <= 0xDFFF)) {
      return false;
    }
    i += extra + 1;
  }
  return true;
}

std::string percentEncodePath(std::string_view path) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(path.size());
  for (char ch : path) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (isPathCharacter(c)) {
      out.push_back(ch);
    } else {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 0xF]);
    }
  }
  return out;
}

std::optional<std::string> percentDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out.push_back(text[i]);
      continue;
    }
    if (text.size() - i < 3) {
      return std::nullopt;
    }
    int high = hexValue(text[i + 1]);
    int low = hexValue(text[i + 2]);
    if (high < 0 || low < 0) {
      return std::nullopt;
    }
    out.push_back(static_cast<char>(high * 16 + low));
    i += 2;
  }
  return out;
}

std::optional<URL> URL::fromString(std::string_view text) {
  if (text.empty()) {
    return std::nullopt;
  }
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '%') {
      if (i + 2 >= text.size() || hexValue(text[i + 1]) < 0 || hexValue(text[i + 2]) < 0) {
        return std::nullopt;
      }
      i += 2;
      continue;
    }
    if (!isURLCharacter(c)) {
      return std::nullopt;
    }
  }
  return URL(std::string(text));
}

URL URL::fileURLWithPath(std::string_view path) {
  std::string encoded = percentEncodePath(path);
  if (!path.empty() && path.front() == '/') {
    return URL("file://" + encoded);
  }
  return URL(encoded);
}

std::string URL::scheme() const {
  size_t length = schemeLength(text_);
  std::string scheme = length == 0 ? std::string() : text_.substr(0, length - 1);
  for (char& c : scheme) {
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return scheme;
}

std::string_view URL::rawPath() const {
  std::string_view rest(text_);
  rest.remove_prefix(schemeLength(rest));
  if (rest.starts_with("//")) {
    rest.remove_prefix(2);
    size_t authorityEnd = rest.find_first_of("/?#");
    rest.remove_prefix(authorityEnd == std::string_view::npos ? rest.size() : authorityEnd);
  }
  size_t end = rest.find_first_of("?#");
  return end == std::string_view::npos ? rest : rest.substr(0, end);
}

std::string URL::path() const {
  auto decoded = percentDecode(rawPath());
  if (!decoded || !isValidUTF8(*decoded)) {
    return {};
  }
  while (decoded->size() > 1 && decoded->back() == '/') {
    decoded->pop_back();
  }
  return *decoded;
}

std::optional<std::string> URL::fileSystemPath() const {
  if (!isFileURL()) {
    return std::nullopt;
  }
  auto decoded = percentDecode(rawPath());
  if (!decoded || decoded->empty() || decoded->front() != '/' ||
      decoded->find('\0') != std::string::npos) {
    return std::nullopt;
  }
  while (decoded->size() > 1 && decoded->back() == '/') {
    decoded->pop_back();
  }
  return decoded;
}

std::string URL::lastPathComponent() const {
  std::string full = path();
  if (full.size() <= 1) {
    return full;
  }
  auto slash = full.rfind('/');
  return slash == std::string::npos ? full : full.substr(slash + 1);
}

} // namespace platform
