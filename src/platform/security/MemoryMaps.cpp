#include "platform/security/MemoryMaps.h"

#include <cctype>
#include <charconv>
#include <cstdio>

namespace platform::security {

namespace {

// Reads what one line still holds, field by field; every reader leaves `rest` after its field.
class LineReader {
public:
  explicit LineReader(std::string_view line) : rest_(line) {}

  bool hex(uint64_t& value, size_t maxDigits = 16) { return number(value, 16, maxDigits); }
  bool decimal(uint64_t& value) { return number(value, 10, 20); }

  bool literal(char expected) {
    if (rest_.empty() || rest_.front() != expected) {
      return false;
    }
    rest_.remove_prefix(1);
    return true;
  }

  // The four permission letters, each either its letter or '-' ('p' or 's' for the last).
  bool permissions(bool& executable) {
    if (rest_.size() < 4) {
      return false;
    }
    const std::string_view letters = rest_.substr(0, 4);
    const bool valid =
        (letters[0] == 'r' || letters[0] == '-') && (letters[1] == 'w' || letters[1] == '-') &&
        (letters[2] == 'x' || letters[2] == '-') && (letters[3] == 'p' || letters[3] == 's');
    executable = letters[2] == 'x';
    rest_.remove_prefix(4);
    return valid;
  }

  bool atEnd() const { return rest_.empty(); }

  // The name: whatever follows the blanks after the inode, possibly nothing.
  std::string_view name() {
    while (!rest_.empty() && rest_.front() == ' ') {
      rest_.remove_prefix(1);
    }
    return rest_;
  }

private:
  bool number(uint64_t& value, int base, size_t maxDigits) {
    size_t digits = 0;
    while (digits < rest_.size() && std::isxdigit(static_cast<unsigned char>(rest_[digits])) &&
           (base == 16 || std::isdigit(static_cast<unsigned char>(rest_[digits])))) {
      ++digits;
    }
    if (digits == 0 || digits > maxDigits) {
      return false;
    }
    auto [end, error] = std::from_chars(rest_.data(), rest_.data() + digits, value, base);
    if (error != std::errc() || end != rest_.data() + digits) {
      return false;
    }
    rest_.remove_prefix(digits);
    return true;
  }

  std::string_view rest_;
};

bool parseLine(std::string_view line, MemoryMapping& mapping) {
  LineReader reader(line);
  uint64_t offset = 0;
  uint64_t major = 0;
  uint64_t minor = 0;
  if (!reader.hex(mapping.start) || !reader.literal('-') || !reader.hex(mapping.end) ||
      !reader.literal(' ') || !reader.permissions(mapping.executable) || !reader.literal(' ') ||
      !reader.hex(offset) || !reader.literal(' ') || !reader.hex(major, 8) ||
      !reader.literal(':') || !reader.hex(minor, 8) || !reader.literal(' ') ||
      !reader.decimal(mapping.inode)) {
    return false;
  }
  if (mapping.start >= mapping.end) {
    return false;
  }
  // The inode ends the line or is followed by blanks and a name.
  if (reader.atEnd()) {
    return true;
  }
  if (!reader.literal(' ')) {
    return false;
  }
  mapping.name.assign(reader.name());
  return true;
}

} // namespace

std::string MemoryMapping::mapFilesName() const {
  char text[2 * 16 + 2];
  std::snprintf(text, sizeof text, "%llx-%llx", static_cast<unsigned long long>(start),
                static_cast<unsigned long long>(end));
  return text;
}

bool MemoryMaps::parse(std::string_view text, std::vector<MemoryMapping>& mappings,
                       std::string& reason) {
  std::vector<MemoryMapping> parsed;
  size_t lineNumber = 0;
  while (!text.empty()) {
    ++lineNumber;
    const size_t end = text.find('\n');
    if (end == std::string_view::npos) {
      reason = "line " + std::to_string(lineNumber) + " does not end";
      return false;
    }
    if (parsed.size() == kMaxMappings) {
      reason = "more than " + std::to_string(kMaxMappings) + " mappings";
      return false;
    }
    MemoryMapping mapping;
    if (!parseLine(text.substr(0, end), mapping)) {
      reason = "line " + std::to_string(lineNumber) + " is malformed";
      return false;
    }
    parsed.push_back(std::move(mapping));
    text.remove_prefix(end + 1);
  }
  mappings = std::move(parsed);
  return true;
}

} // namespace platform::security
