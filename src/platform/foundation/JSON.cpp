#include "platform/foundation/JSON.h"

#include "platform/foundation/DecodingError.h"

#include <charconv>
#include <cmath>

namespace platform::json {
namespace {

void writeString(const std::string& text, std::string& out) {
  static constexpr char kHex[] = "0123456789abcdef";
  out.push_back('"');
  size_t runStart = 0;
  auto flush = [&](size_t end) { out.append(text, runStart, end - runStart); };
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
      out.append(escape);
    } else {
      out.append("\\u00");
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 0xF]);
    }
  }
  flush(text.size());
  out.push_back('"');
}

template <class Number> void writeNumber(Number number, std::string& out) {
  char buffer[32];
  auto result = std::to_chars(buffer, buffer + sizeof(buffer), number);
  out.append(buffer, result.ptr);
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

} // namespace

void write(const Value& value, std::string& out) {
  switch (value.type()) {
  case Value::value_t::null:
  case Value::value_t::discarded:
    out.append("null");
    return;
  case Value::value_t::boolean:
    out.append(value.get<bool>() ? "true" : "false");
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
    out.push_back('[');
    bool first = true;
    for (const auto& element : value) {
      if (!first) {
        out.push_back(',');
      }
      first = false;
      write(element, out);
    }
    out.push_back(']');
    return;
  }
  case Value::value_t::object: {
    out.push_back('{');
    bool first = true;
    for (const auto& [key, member] : value.items()) {
      if (!first) {
        out.push_back(',');
      }
      first = false;
      writeString(key, out);
      out.push_back(':');
      write(member, out);
    }
    out.push_back('}');
    return;
  }
  }
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
