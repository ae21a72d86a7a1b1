// Feeds arbitrary bytes to the readers of /proc/PID/auxv, /proc/PID/maps and /proc/PID/status.
// The first byte picks the reader. What a reader accepts must be consistent with the input: a
// parsed mapping has start below end, an accepted vector is whole pairs ending in AT_NULL.
#include "platform/security/AuxiliaryVector.h"
#include "platform/security/MemoryMaps.h"
#include "platform/security/ProcessStatus.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

using namespace platform::security;

void check(bool condition) {
  if (!condition) {
    std::abort();
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) {
    return 0;
  }
  const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::string reason;
  switch (data[0] % 3) {
  case 0: {
    const size_t wordSize = data[0] & 0x80 ? 4 : 8;
    AuxiliaryVector vector;
    if (AuxiliaryVector::parse(text, wordSize, vector, reason)) {
      check(text.size() % (2 * wordSize) == 0 && vector.size() + 1 == text.size() / (2 * wordSize));
    } else {
      check(!reason.empty());
    }
    break;
  }
  case 1: {
    std::vector<MemoryMapping> mappings;
    if (MemoryMaps::parse(text, mappings, reason)) {
      for (const MemoryMapping& mapping : mappings) {
        check(mapping.start < mapping.end);
        check(mapping.name.find('\n') == std::string::npos);
        check(!mapping.mapFilesName().empty());
      }
    } else {
      check(!reason.empty());
    }
    break;
  }
  default: {
    ProcessIds ids;
    if (!ProcessIds::parse(text, ids, reason)) {
      check(!reason.empty());
    }
    break;
  }
  }
  return 0;
}
