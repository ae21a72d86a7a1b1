#include "platform/security/AuxiliaryVector.h"

#include <algorithm>
#include <cstring>
#include <elf.h>

namespace platform::security {

namespace {

uint64_t readWord(const char* bytes, size_t wordSize) {
  if (wordSize == 4) {
    uint32_t word = 0;
    std::memcpy(&word, bytes, sizeof word);
    return word;
  }
  uint64_t word = 0;
  std::memcpy(&word, bytes, sizeof word);
  return word;
}

} // namespace

bool AuxiliaryVector::parse(std::string_view bytes, size_t wordSize, AuxiliaryVector& vector,
                            std::string& reason) {
  if (wordSize != 4 && wordSize != 8) {
    reason = "unsupported word size " + std::to_string(wordSize);
    return false;
  }
  const size_t pairSize = 2 * wordSize;
  if (bytes.size() % pairSize != 0) {
    reason = "its length " + std::to_string(bytes.size()) + " is not a whole number of entries";
    return false;
  }
  AuxiliaryVector parsed;
  for (size_t offset = 0; offset < bytes.size(); offset += pairSize) {
    const uint64_t type = readWord(bytes.data() + offset, wordSize);
    const uint64_t value = readWord(bytes.data() + offset + wordSize, wordSize);
    if (type == AT_NULL) {
      if (offset + pairSize != bytes.size()) {
        reason = "entries follow its terminator";
        return false;
      }
      vector = std::move(parsed);
      return true;
    }
    if (parsed.entries_.size() == kMaxEntries) {
      reason = "it has more than " + std::to_string(kMaxEntries) + " entries";
      return false;
    }
    if (parsed.value(type)) {
      reason = "entry " + std::to_string(type) + " appears twice";
      return false;
    }
    parsed.entries_.emplace_back(type, value);
  }
  reason = "it has no terminator";
  return false;
}

std::optional<uint64_t> AuxiliaryVector::value(uint64_t type) const {
  auto found = std::find_if(entries_.begin(), entries_.end(),
                            [type](const auto& entry) { return entry.first == type; });
  if (found == entries_.end()) {
    return std::nullopt;
  }
  return found->second;
}

} // namespace platform::security
