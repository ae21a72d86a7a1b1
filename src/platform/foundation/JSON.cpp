#include "platform/foundation/JSON.h"

#include "platform/foundation/DecodingError.h"

#include <charconv>
#include <cmath>

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

template <class Out> void writeString(const std::string& text, Out& out) {
  static constexpr char kHex[] = "0123456789abcdef";
  out.put('"');
  size_t runStart = 0;
  auto flush = [&](size_t end) {
    out.put(std::string_view(text).substr(runStart, end - runStart));
  };
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    const char* escape = nullptr;
    switch (c) {
    case '"':
      escape = "\\\"";
      break;
    case '\\':
      escape = "\\\\";
      break;
    case '/':
      escape = "\\/";
      break;
    case '\b':
      escape = "\\b";
      break;
    case '\f':
      escape = "\\f";
      break;
    case '\n':
      escape = "\\n";
      break;
    case '\r':
      escape = "\\r";
      break;
    case '\t':
      escape = "\\t";
      break;
    default:
      if (c >= 0x20) {
        continue;
      }
    }
    flush(i);
    runStart = i + 1;
    if (escape != nullptr) {
      out.put(std::string_view(escape));
    } else {
      out.put(std::string_view("\\u00"));
      out.put(kHex[c >> 4]);
      out.put(kHex[c & 0xF]);
    }
  }
  flush(text.size());
  out.put('"');
}

template <class Number, class Out> void writeNumber(Number number, Out& out) {
  char buffer[32];
  auto result = std::to_chars(buffer, buffer + sizeof(buffer), number);
  out.put(std::string_view(buffer, static_cast<size_t>(result.ptr - buffer)));
}

// Rejects nesting deeper than the limit with one linear scan that skips string contents.
void checkNestingDepth(std::string_view text) {
  size_t depth = 0;
  bool inString = false;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (inString) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        inString = false;
      }
      continue;
    }
    if (c == '"') {
      inString = true;
    } else if (c == '{' || c == '[') {
      if (++depth > kMaximumNestingDepth) {
        throw DecodingError(DecodingError::Kind::dataCorrupted, {},
                            "The given data was not valid JSON.");
      }
    } else if ((c == '}' || c == ']') && depth > 0) {
      --depth;
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
  StringOutput output{out};
  writeValue(value, output);
}

Bytes writeBytes(const Value& value) {
  CountingOutput counter;
  writeValue(value, counter);
  Bytes bytes;
  bytes.reserve(counter.size);
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
  checkNestingDepth(text);
  Value value = Value::parse(text, nullptr, /*allow_exceptions=*/false);
  if (value.is_discarded()) {
    throw DecodingError(DecodingError::Kind::dataCorrupted, {},
                        "The given data was not valid JSON.");
  }
  return value;
}

} // namespace platform::json
