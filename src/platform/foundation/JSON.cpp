#include "platform/foundation/JSON.h"

#include "platform/foundation/DecodingError.h"
#include "platform/posix/HugePages.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <optional>
#include <vector>

namespace platform::json {
namespace {

// Where the writer puts its text: a string, bytes, or nothing but the count (to size the
// output exactly before a large document is written).
struct StringOutput {
  std::string& text;
  void put(char c) { text.push_back(c); }
  void put(std::string_view part) { text.append(part); }
};
struct BytesOutput {
  Bytes& bytes;
  void put(char c) { bytes.push_back(static_cast<uint8_t>(c)); }
  void put(std::string_view part) { bytes.insert(bytes.end(), part.begin(), part.end()); }
};
struct CountingOutput {
  size_t size = 0;
  void put(char) { ++size; }
  void put(std::string_view part) { size += part.size(); }
};

// The escape of each byte that JSON text cannot hold as itself ("/" is escaped too, as this
// system's JSON always has), or null.
constexpr std::array<const char*, 256> makeEscapes() {
  std::array<const char*, 256> escapes{};
  constexpr const char* kControl[32] = {
      "\\u0000", "\\u0001", "\\u0002", "\\u0003", "\\u0004", "\\u0005", "\\u0006", "\\u0007",
      "\\b",     "\\t",     "\\n",     "\\u000b", "\\f",     "\\r",     "\\u000e", "\\u000f",
      "\\u0010", "\\u0011", "\\u0012", "\\u0013", "\\u0014", "\\u0015", "\\u0016", "\\u0017",
      "\\u0018", "\\u0019", "\\u001a", "\\u001b", "\\u001c", "\\u001d", "\\u001e", "\\u001f"};
  for (int c = 0; c < 32; ++c) {
    escapes[c] = kControl[c];
  }
  escapes['"'] = "\\\"";
  escapes['\\'] = "\\\\";
  escapes['/'] = "\\/";
  return escapes;
}

constexpr auto kEscapes = makeEscapes();

// Tests on eight bytes at once, so that long runs of plain text (Base64 above all) pass in
// one step each.
constexpr uint64_t kOnes = 0x0101010101010101ULL;
constexpr uint64_t kHighs = 0x8080808080808080ULL;

// Whether a byte of `word` is a control character (below 0x20).
constexpr bool hasControlByte(uint64_t word) {
  return ((word - kOnes * 0x20) & ~word & kHighs) != 0;
}

// Whether any of the eight bytes in `word` needs an escape: a quote, a backslash, a slash or a
// control character.
constexpr bool mayNeedEscape(uint64_t word) {
  const auto hasByte = [](uint64_t x, uint8_t byte) {
    const uint64_t y = x ^ (kOnes * byte);
    return ((y - kOnes) & ~y & kHighs) != 0;
  };
  return hasControlByte(word) || hasByte(word, '"') || hasByte(word, '\\') || hasByte(word, '/');
}

template <class Out> void writeString(std::string_view text, Out& out) {
  out.put('"');
  size_t runStart = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if ((i & 7) == 0 && i + 8 <= text.size()) {
      uint64_t word;
      std::memcpy(&word, text.data() + i, sizeof word);
      if (!mayNeedEscape(word)) {
        i += 7;
        continue;
      }
    }
    const char* escape = kEscapes[static_cast<unsigned char>(text[i])];
    if (escape == nullptr) {
      continue;
    }
    out.put(text.substr(runStart, i - runStart));
    out.put(std::string_view(escape));
    runStart = i + 1;
  }
  out.put(text.substr(runStart));
  out.put('"');
}

template <class Number, class Out> void writeNumber(Number number, Out& out) {
  char buffer[32];
  auto result = std::to_chars(buffer, buffer + sizeof(buffer), number);
  out.put(std::string_view(buffer, static_cast<size_t>(result.ptr - buffer)));
}

// Strings at least this long are taken out of the text before the parser sees it: its lexer
// handles one character at a time through several calls, so the Base64 payload of a large reply
// (hundreds of megabytes, twice over) cost seconds. Unescaped here, they cost a memchr pass.
constexpr size_t kLiftedStringSize = 4096;
// What stands for a lifted string in the text given to the parser: an escaped NUL that no
// lifted text can start with. A document that holds this escape itself is parsed whole.
constexpr std::string_view kLiftedMarkerEscaped = "\\u0000";
constexpr char kLiftedMarker = '\0';

struct LiftedString {
  size_t begin = 0; // the opening quote
  size_t end = 0;   // one past the closing quote
  std::string text; // unescaped
};

// Whether every byte of `text` is printable ASCII (0x20 to 0x7F), checked eight at a time.
bool isPrintableASCII(std::string_view text) {
  size_t i = 0;
  for (; i + 8 <= text.size(); i += 8) {
    uint64_t word;
    std::memcpy(&word, text.data() + i, sizeof word);
    if ((word & kHighs) != 0 || hasControlByte(word)) {
      return false;
    }
  }
  for (; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 || c >= 0x80) {
      return false;
    }
  }
  return true;
}

// The unescaped text of a string token (quotes included), if it holds only printable ASCII
// and the simple escapes; none otherwise (control characters, UTF-8 and \u escapes are left to
// the parser, which validates them). So a lifted text never starts with the marker.
std::optional<std::string> unescapeSimpleString(std::string_view token) {
  std::string_view body = token.substr(1, token.size() - 2);
  std::string out;
  out.reserve(body.size());
  posix::adviseHugePages(out.data(), out.capacity());
  size_t position = 0;
  while (position < body.size()) {
    const char* escape =
        static_cast<const char*>(std::memchr(body.data() + position, '\\', body.size() - position));
    const size_t runEnd =
        escape == nullptr ? body.size() : static_cast<size_t>(escape - body.data());
    if (!isPrintableASCII(body.substr(position, runEnd - position))) {
      return std::nullopt;
    }
    out.append(body.substr(position, runEnd - position));
    if (escape == nullptr) {
      break;
    }
    if (runEnd + 1 >= body.size()) {
      return std::nullopt;
    }
    switch (body[runEnd + 1]) {
    case '"':
      out.push_back('"');
      break;
    case '\\':
      out.push_back('\\');
      break;
    case '/':
      out.push_back('/');
      break;
    case 'b':
      out.push_back('\b');
      break;
    case 'f':
      out.push_back('\f');
      break;
    case 'n':
      out.push_back('\n');
      break;
    case 'r':
      out.push_back('\r');
      break;
    case 't':
      out.push_back('\t');
      break;
    default:
      return std::nullopt;
    }
    position = runEnd + 2;
  }
  return out;
}

// One pass over the text: rejects nesting deeper than the limit, and finds the long strings
// in value position (not object keys) that can be lifted out.
std::vector<LiftedString> scanText(std::string_view text) {
  std::vector<LiftedString> lifted;
  size_t depth = 0;
  size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (c == '"') {
      // Find the closing quote: the first one not escaped.
      size_t close = i + 1;
      while (true) {
        const void* found = std::memchr(text.data() + close, '"', text.size() - close);
        if (found == nullptr) {
          return lifted; // unterminated: the parser reports it
        }
        close = static_cast<size_t>(static_cast<const char*>(found) - text.data());
        size_t backslashes = 0;
        while (close - backslashes > i + 1 && text[close - backslashes - 1] == '\\') {
          ++backslashes;
        }
        if (backslashes % 2 == 0) {
          break;
        }
        ++close;
      }
      const size_t end = close + 1;
      if (end - i >= kLiftedStringSize) {
        size_t next = end;
        while (next < text.size() && (text[next] == ' ' || text[next] == '\t' ||
                                      text[next] == '\n' || text[next] == '\r')) {
          ++next;
        }
        const bool isKey = next < text.size() && text[next] == ':';
        if (!isKey) {
          if (auto unescaped = unescapeSimpleString(text.substr(i, end - i))) {
            lifted.push_back({i, end, std::move(*unescaped)});
          }
        }
      }
      i = end;
      continue;
    }
    if (c == '{' || c == '[') {
      if (++depth > kMaximumNestingDepth) {
        throw DecodingError(DecodingError::Kind::dataCorrupted, {},
                            "The given data was not valid JSON.");
      }
    } else if ((c == '}' || c == ']') && depth > 0) {
      --depth;
    }
    ++i;
  }
  return lifted;
}

// Puts the lifted strings back where the parser found their markers.
void restoreLifted(Value& value, std::vector<LiftedString>& lifted) {
  if (value.is_string()) {
    auto& text = value.get_ref<std::string&>();
    if (!text.empty() && text.front() == kLiftedMarker) {
      size_t index = lifted.size();
      std::from_chars(text.data() + 1, text.data() + text.size(), index);
      if (index < lifted.size()) {
        text = std::move(lifted[index].text);
      }
    }
    return;
  }
  if (value.is_structured()) {
    for (auto& element : value) {
      restoreLifted(element, lifted);
    }
  }
}

template <class Out> void writeValue(const Value& value, Out& out) {
  switch (value.type()) {
  case Value::value_t::null:
  case Value::value_t::discarded:
    out.put(std::string_view("null"));
    return;
  case Value::value_t::boolean:
    out.put(std::string_view(value.get<bool>() ? "true" : "false"));
    return;
  case Value::value_t::number_integer:
    writeNumber(value.get<int64_t>(), out);
    return;
  case Value::value_t::number_unsigned:
    writeNumber(value.get<uint64_t>(), out);
    return;
  case Value::value_t::number_float: {
    double number = value.get<double>();
    if (!std::isfinite(number)) {
      throw EncodingError("Unable to encode Double." + std::to_string(number) +
                          " directly in JSON.");
    }
    writeNumber(number, out);
    return;
  }
  case Value::value_t::string:
    writeString(value.get_ref<const std::string&>(), out);
    return;
  case Value::value_t::binary:
    throw EncodingError("Binary values have no JSON form.");
  case Value::value_t::array: {
    out.put('[');
    bool first = true;
    for (const auto& element : value) {
      if (!first) {
        out.put(',');
      }
      first = false;
      writeValue(element, out);
    }
    out.put(']');
    return;
  }
  case Value::value_t::object: {
    out.put('{');
    bool first = true;
    for (const auto& [key, member] : value.items()) {
      if (!first) {
        out.put(',');
      }
      first = false;
      writeString(key, out);
      out.put(':');
      writeValue(member, out);
    }
    out.put('}');
    return;
  }
  }
}

} // namespace

void write(const Value& value, std::string& out) {
  if (value.is_structured() && out.empty()) {
    // A document of its own is sized first: a large one is then written once into a buffer of
    // its size, rather than copied through each doubling. Values appended to text already
    // there are written as they come.
    CountingOutput counter;
    writeValue(value, counter);
    out.reserve(out.size() + counter.size);
    posix::adviseHugePages(out.data(), out.capacity());
  }
  StringOutput output{out};
  writeValue(value, output);
}

void appendString(std::string_view text, std::string& out) {
  StringOutput output{out};
  writeString(text, output);
}

Bytes writeBytes(const Value& value) {
  CountingOutput counter;
  writeValue(value, counter);
  Bytes bytes;
  bytes.reserve(counter.size);
  posix::adviseHugePages(bytes.data(), bytes.capacity());
  BytesOutput output{bytes};
  writeValue(value, output);
  return bytes;
}

std::string write(const Value& value) {
  std::string out;
  out.reserve(128);
  write(value, out);
  return out;
}

Value parse(std::string_view text) {
  std::vector<LiftedString> lifted = scanText(text);
  if (!lifted.empty() && text.find(kLiftedMarkerEscaped) != std::string_view::npos) {
    lifted.clear(); // a marker of its own: nothing is lifted
  }
  std::string shortened;
  if (!lifted.empty()) {
    size_t taken = 0;
    for (size_t index = 0; index < lifted.size(); ++index) {
      shortened.append(text.substr(taken, lifted[index].begin - taken));
      shortened.append("\"").append(kLiftedMarkerEscaped).append(std::to_string(index));
      shortened.push_back('"');
      taken = lifted[index].end;
    }
    shortened.append(text.substr(taken));
    text = shortened;
  }
  Value value = Value::parse(text, nullptr, /*allow_exceptions=*/false);
  if (value.is_discarded()) {
    throw DecodingError(DecodingError::Kind::dataCorrupted, {},
                        "The given data was not valid JSON.");
  }
  if (!lifted.empty()) {
    restoreLifted(value, lifted);
  }
  return value;
}

} // namespace platform::json
