#include "platform/loader/ElfSections.h"

#include <cstring>
#include <elf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace platform::loader {
namespace {

constexpr const char* kDomain = "ElfSectionErrorDomain";
constexpr size_t kMaximumSections = 4096;
constexpr size_t kMaximumNameTable = 1 << 20;

enum Code : int64_t { notElf = 1, malformed = 2, sectionMissing = 3, sectionTooLarge = 4, io = 5 };

struct Section {
  uint32_t name;
  uint32_t type;
  uint64_t offset;
  uint64_t size;
};

class Reader {
public:
  Reader(int fd, uint64_t fileSize) : fd_(fd), fileSize_(fileSize) {}

  // Reads exactly `size` bytes at `offset`, which must lie inside the file.
  bool read(uint64_t offset, void* out, size_t size) const {
    if (offset > fileSize_ || size > fileSize_ - offset) {
      return false;
    }
    size_t done = 0;
    while (done < size) {
      ssize_t got = pread(fd_, static_cast<char*>(out) + done, size - done,
                          static_cast<off_t>(offset + done));
      if (got < 0 && errno == EINTR) {
        continue;
      }
      if (got <= 0) {
        return false;
      }
      done += static_cast<size_t>(got);
    }
    return true;
  }

private:
  int fd_;
  uint64_t fileSize_;
};

template <class Ehdr, class Shdr>
std::optional<std::vector<Section>> readSectionTable(const Reader& reader, uint16_t* nameIndex) {
  Ehdr header;
  if (!reader.read(0, &header, sizeof(header)) || header.e_shentsize != sizeof(Shdr) ||
      header.e_shnum == 0 || header.e_shnum > kMaximumSections ||
      header.e_shstrndx >= header.e_shnum) {
    return std::nullopt;
  }
  std::vector<Shdr> raw(header.e_shnum);
  if (!reader.read(header.e_shoff, raw.data(), raw.size() * sizeof(Shdr))) {
    return std::nullopt;
  }
  std::vector<Section> sections;
  sections.reserve(raw.size());
  for (const Shdr& entry : raw) {
    sections.push_back({entry.sh_name, entry.sh_type, entry.sh_offset, entry.sh_size});
  }
  *nameIndex = header.e_shstrndx;
  return sections;
}

bool fail(NSError* error, Code code, std::string text) {
  setError(error, NSError(kDomain, code, {{NSLocalizedDescriptionKey, std::move(text)}}));
  return false;
}

} // namespace

std::optional<std::string> readElfSection(int fd, std::string_view sectionName, size_t maximumSize,
                                          NSError* error) {
  struct stat status {};
  if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    fail(error, io, "The executable could not be read.");
    return std::nullopt;
  }
  Reader reader(fd, static_cast<uint64_t>(status.st_size));
  unsigned char ident[EI_NIDENT];
  if (!reader.read(0, ident, sizeof(ident)) || std::memcmp(ident, ELFMAG, SELFMAG) != 0 ||
      ident[EI_DATA] != ELFDATA2LSB) {
    fail(error, notElf, "The file is not a little-endian ELF file.");
    return std::nullopt;
  }
  uint16_t nameIndex = 0;
  std::optional<std::vector<Section>> sections;
  if (ident[EI_CLASS] == ELFCLASS64) {
    sections = readSectionTable<Elf64_Ehdr, Elf64_Shdr>(reader, &nameIndex);
  } else if (ident[EI_CLASS] == ELFCLASS32) {
    sections = readSectionTable<Elf32_Ehdr, Elf32_Shdr>(reader, &nameIndex);
  }
  if (!sections) {
    fail(error, malformed, "The ELF section table is malformed.");
    return std::nullopt;
  }
  const Section& names = (*sections)[nameIndex];
  if (names.type != SHT_STRTAB || names.size > kMaximumNameTable) {
    fail(error, malformed, "The ELF section name table is malformed.");
    return std::nullopt;
  }
  std::string nameTable(names.size, '\0');
  if (!reader.read(names.offset, nameTable.data(), nameTable.size())) {
    fail(error, malformed, "The ELF section name table is malformed.");
    return std::nullopt;
  }
  for (const Section& section : *sections) {
    if (section.name >= nameTable.size()) {
      continue;
    }
    // The name ends at the first NUL inside the table; a name running off its end never matches.
    const char* name = nameTable.data() + section.name;
    size_t length = strnlen(name, nameTable.size() - section.name);
    if (std::string_view(name, length) != sectionName || section.type == SHT_NOBITS) {
      continue;
    }
    if (section.size > maximumSize) {
      fail(error, sectionTooLarge, "The section " + std::string(sectionName) + " is too large.");
      return std::nullopt;
    }
    std::string bytes(section.size, '\0');
    if (!reader.read(section.offset, bytes.data(), bytes.size())) {
      fail(error, malformed, "The section " + std::string(sectionName) + " lies outside the file.");
      return std::nullopt;
    }
    return bytes;
  }
  fail(error, sectionMissing, "The file has no section " + std::string(sectionName) + ".");
  return std::nullopt;
}

std::optional<std::string> readElfSection(const std::string& path, std::string_view sectionName,
                                          size_t maximumSize, NSError* error) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    setError(error, NSError::fileManagerError(errno, path, false));
    return std::nullopt;
  }
  auto bytes = readElfSection(fd, sectionName, maximumSize, error);
  close(fd);
  return bytes;
}

} // namespace platform::loader
