#include "platform/loader/ElfSection.h"

#include "platform/posix/ReadWrite.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>
#include <vector>

namespace platform::loader {

namespace {

constexpr uint64_t kMaxSectionCount = 65536;
constexpr uint64_t kMaxNameTableSize = 1024 * 1024;
constexpr uint16_t kSectionIndexEscape = 0xFFFF; // SHN_XINDEX
constexpr uint32_t kNoBitsSectionType = 8;       // SHT_NOBITS

// The only place that decodes byte order: ELF fields here are little-endian.
uint64_t readLittleEndian(const uint8_t* bytes, size_t width) {
  uint64_t value = 0;
  for (size_t index = 0; index < width; ++index) {
    value |= uint64_t(bytes[index]) << (8 * index);
  }
  return value;
}

// True when [offset, offset + size) lies inside [0, limit), without overflow.
bool inBounds(uint64_t offset, uint64_t size, uint64_t limit) {
  return offset <= limit && size <= limit - offset;
}

// Field offsets of the two ELF classes.
struct ElfLayout {
  size_t headerSize;
  size_t shoff, shentsize, shnum, shstrndx; // in the file header
  size_t sectionHeaderSize;
  size_t shName, shType, shOffset, shSize, shLink; // in a section header
  size_t wordSize;                                 // width of offsets and sizes
};

constexpr ElfLayout kElf32 = {52, 32, 46, 48, 50, 40, 0, 4, 16, 20, 24, 4};
constexpr ElfLayout kElf64 = {64, 40, 58, 60, 62, 64, 0, 4, 24, 32, 40, 8};

} // namespace

ElfSectionLookup readElfSection(int fd, uint64_t fileLength, std::string_view name,
                                size_t maxSectionSize) {
  ElfSectionLookup lookup;
  auto malformed = [&](std::string reason) {
    lookup.outcome = ElfSectionLookup::Outcome::malformed;
    lookup.failure = std::move(reason);
    return lookup;
  };

  uint8_t header[64] = {};
  if (fileLength < 16 || platform::posix::readFully(fd, header, 16, 0) != 0 ||
      std::memcmp(header,
                  "\x7F"
                  "ELF",
                  4) != 0) {
    return lookup; // not ELF: no sections at all
  }
  const ElfLayout* layout = header[4] == 1 ? &kElf32 : header[4] == 2 ? &kElf64 : nullptr;
  if (layout == nullptr || header[5] != 1 || header[6] != 1) {
    return malformed("unsupported ELF class, byte order or version");
  }
  if (fileLength < layout->headerSize ||
      platform::posix::readFully(fd, header, layout->headerSize, 0) != 0) {
    return malformed("truncated ELF header");
  }
  const ElfLayout& elf = *layout;
  uint64_t sectionTableOffset = readLittleEndian(header + elf.shoff, elf.wordSize);
  uint64_t entrySize = readLittleEndian(header + elf.shentsize, 2);
  uint64_t sectionCount = readLittleEndian(header + elf.shnum, 2);
  uint64_t nameTableIndex = readLittleEndian(header + elf.shstrndx, 2);
  if (sectionTableOffset == 0) {
    return lookup; // no section table
  }
  if (entrySize != elf.sectionHeaderSize) {
    return malformed("unexpected section header size");
  }
  if (!inBounds(sectionTableOffset, entrySize, fileLength)) {
    return malformed("section table out of bounds");
  }
  // Large files keep the real count and name-table index in section header 0.
  std::vector<uint8_t> first(entrySize);
  if (platform::posix::readFully(fd, first.data(), entrySize, sectionTableOffset) != 0) {
    return malformed("cannot read section table");
  }
  if (sectionCount == 0) {
    sectionCount = readLittleEndian(first.data() + elf.shSize, elf.wordSize);
  }
  if (nameTableIndex == kSectionIndexEscape) {
    nameTableIndex = readLittleEndian(first.data() + elf.shLink, 4);
  }
  if (sectionCount == 0 || sectionCount > kMaxSectionCount ||
      !inBounds(sectionTableOffset, sectionCount * entrySize, fileLength)) {
    return malformed("section count out of bounds");
  }
  if (nameTableIndex >= sectionCount) {
    return malformed("section name table index out of bounds");
  }
  std::vector<uint8_t> table(sectionCount * entrySize);
  if (platform::posix::readFully(fd, table.data(), table.size(), sectionTableOffset) != 0) {
    return malformed("cannot read section table");
  }
  auto field = [&](uint64_t section, size_t offset, size_t width) {
    return readLittleEndian(table.data() + section * entrySize + offset, width);
  };

  uint64_t namesOffset = field(nameTableIndex, elf.shOffset, elf.wordSize);
  uint64_t namesSize = field(nameTableIndex, elf.shSize, elf.wordSize);
  if (namesSize > kMaxNameTableSize || !inBounds(namesOffset, namesSize, fileLength)) {
    return malformed("section name table out of bounds");
  }
  std::string names(namesSize, '\0');
  if (platform::posix::readFully(fd, names.data(), namesSize, namesOffset) != 0) {
    return malformed("cannot read section name table");
  }

  for (uint64_t section = 0; section < sectionCount; ++section) {
    uint64_t nameOffset = field(section, elf.shName, 4);
    if (nameOffset >= names.size()) {
      continue; // a broken name cannot be the one we look for
    }
    size_t nameEnd = names.find('\0', nameOffset);
    if (nameEnd == std::string::npos ||
        std::string_view(names).substr(nameOffset, nameEnd - nameOffset) != name) {
      continue;
    }
    uint64_t offset = field(section, elf.shOffset, elf.wordSize);
    uint64_t size = field(section, elf.shSize, elf.wordSize);
    if (field(section, elf.shType, 4) == kNoBitsSectionType) {
      return malformed("section has no bytes in the file");
    }
    if (size > maxSectionSize) {
      return malformed("section too large");
    }
    if (!inBounds(offset, size, fileLength)) {
      return malformed("section out of bounds");
    }
    lookup.offset = offset;
    lookup.bytes.resize(size);
    if (platform::posix::readFully(fd, lookup.bytes.data(), size, offset) != 0) {
      return malformed("cannot read section");
    }
    lookup.outcome = ElfSectionLookup::Outcome::found;
    return lookup;
  }
  return lookup;
}

} // namespace platform::loader
