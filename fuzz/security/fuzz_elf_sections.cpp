// Treats arbitrary bytes as an ELF file and looks up sections with the section reader, over the
// whole file and over a prefix of it. Whatever is found must lie inside the bytes looked at and
// equal them.
#include "platform/loader/ElfSection.h"
#include "platform/posix/UniqueFd.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace {

using platform::UniqueFd;
using platform::loader::ElfSectionLookup;

void check(bool condition) {
  if (!condition) {
    std::abort();
  }
}

constexpr size_t kMaxSection = 64 * 1024;
constexpr const char* kNames[] = {"__info_plist", ".comment", ".shstrtab", ""};

void lookUp(int fd, const uint8_t* data, uint64_t length, const char* name) {
  ElfSectionLookup lookup = platform::loader::readElfSection(fd, length, name, kMaxSection);
  if (lookup.outcome == ElfSectionLookup::Outcome::found) {
    check(lookup.bytes.size() <= kMaxSection);
    check(lookup.offset <= length && lookup.bytes.size() <= length - lookup.offset);
    check(std::memcmp(lookup.bytes.data(), data + lookup.offset, lookup.bytes.size()) == 0);
  } else if (lookup.outcome == ElfSectionLookup::Outcome::malformed) {
    check(!lookup.failure.empty());
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  UniqueFd file(::memfd_create("fuzz_elf_sections", MFD_CLOEXEC));
  if (!file.valid() || ::write(file.get(), data, size) != static_cast<ssize_t>(size)) {
    return 0;
  }
  for (const char* name : kNames) {
    lookUp(file.get(), data, size, name);
    lookUp(file.get(), data, size / 2, name);
  }
  return 0;
}
