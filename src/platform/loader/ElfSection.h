#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform::loader {

// The result of looking up one section of an ELF file.
struct ElfSectionLookup {
  enum class Outcome { found, absent, malformed };
  Outcome outcome = Outcome::absent;
  std::string bytes;   // the section's contents when found
  uint64_t offset = 0; // where they lie in the file
  std::string failure; // why, when malformed
};

// Reads the section named `name` from the ELF file open as `fd`, looking only at bytes
// [0, fileLength) (for a signed file: the code, without the signature trailer). Accepts 32- and
// 64-bit little-endian ELF. Every offset, size and count is checked against `fileLength` before it
// is used; a section larger than `maxSectionSize` counts as malformed. A file that is not ELF at
// all gives `absent`.
ElfSectionLookup readElfSection(int fd, uint64_t fileLength, std::string_view name,
                                size_t maxSectionSize);

} // namespace platform::loader
