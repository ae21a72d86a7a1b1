#include "platform/loader/ElfSection.h"
#include "platform/posix/UniqueFd.h"

#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <sys/mman.h>
#include <unistd.h>

namespace platform::loader {
namespace {

using Outcome = ElfSectionLookup::Outcome;

void put(std::string& bytes, size_t offset, uint64_t value, size_t width) {
  if (bytes.size() < offset + width) {
    bytes.resize(offset + width, '\0');
  }
  for (size_t index = 0; index < width; ++index) {
    bytes[offset + index] = static_cast<char>((value >> (8 * index)) & 0xFF);
  }
}

// A minimal little-endian ELF file: a null section, the section name table and one section
// `name` holding `contents`, with the section table at the end.
struct ElfImage {
  bool is64;
  std::string bytes;
  size_t sectionTableOffset = 0;
  size_t entrySize = 0;

  ElfImage(bool wide, const std::string& name, const std::string& contents) : is64(wide) {
    size_t headerSize = is64 ? 64 : 52;
    entrySize = is64 ? 64 : 40;
    bytes.assign(headerSize, '\0');
    bytes.replace(0, 4,
                  "\x7F"
                  "ELF");
    bytes[4] = is64 ? 2 : 1;
    bytes[5] = 1; // little-endian
    bytes[6] = 1;
    std::string names = std::string("\0.shstrtab\0", 11) + name + '\0';
    size_t namesOffset = bytes.size();
    bytes += names;
    size_t contentsOffset = bytes.size();
    bytes += contents;
    sectionTableOffset = bytes.size();
    bytes.resize(sectionTableOffset + 3 * entrySize, '\0');
    setSection(1, 1, 3, namesOffset, names.size());
    setSection(2, 11, 1, contentsOffset, contents.size());
    put(bytes, is64 ? 40 : 32, sectionTableOffset, is64 ? 8 : 4); // e_shoff
    put(bytes, is64 ? 58 : 46, entrySize, 2);                     // e_shentsize
    put(bytes, is64 ? 60 : 48, 3, 2);                             // e_shnum
    put(bytes, is64 ? 62 : 50, 1, 2);                             // e_shstrndx
  }

  void setSection(size_t index, uint32_t nameOffset, uint32_t type, uint64_t offset,
                  uint64_t size) {
    size_t base = sectionTableOffset + index * entrySize;
    put(bytes, base + 0, nameOffset, 4);
    put(bytes, base + 4, type, 4);
    put(bytes, base + (is64 ? 24 : 16), offset, is64 ? 8 : 4);
    put(bytes, base + (is64 ? 32 : 20), size, is64 ? 8 : 4);
  }
  void setHeaderField(size_t offset64, size_t offset32, uint64_t value, size_t width) {
    put(bytes, is64 ? offset64 : offset32, value, width);
  }
};

ElfSectionLookup lookUp(const std::string& bytes, const std::string& name = "__info_plist",
                        size_t limit = 1 << 20) {
  UniqueFd file(::memfd_create("elf-section-test", MFD_CLOEXEC));
  EXPECT_EQ(::write(file.get(), bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  return readElfSection(file.get(), bytes.size(), name, limit);
}

std::string readSelf() {
  std::ifstream in("/proc/self/exe", std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(ElfSectionTest, FindsSectionsIn64And32BitFiles) {
  for (bool is64 : {true, false}) {
    ElfImage image(is64, "__info_plist", "<plist/>");
    ElfSectionLookup lookup = lookUp(image.bytes);
    ASSERT_EQ(lookup.outcome, Outcome::found) << lookup.failure;
    EXPECT_EQ(lookup.bytes, "<plist/>");
    EXPECT_EQ(lookup.offset, image.bytes.find("<plist/>"));
    EXPECT_EQ(lookUp(image.bytes, "__launchd_plist").outcome, Outcome::absent);
  }
}

TEST(ElfSectionTest, ReadsASectionOfTheRunningExecutable) {
  std::string self = readSelf();
  ElfSectionLookup lookup = lookUp(self, ".comment");
  ASSERT_EQ(lookup.outcome, Outcome::found) << lookup.failure;
  EXPECT_FALSE(lookup.bytes.empty());
  EXPECT_EQ(lookUp(self, ".text", 16).outcome, Outcome::malformed); // larger than allowed
  // Cut before the section table, which lies at the end of the file.
  EXPECT_EQ(lookUp(self.substr(0, self.size() / 2), ".comment").outcome, Outcome::malformed);
}

TEST(ElfSectionTest, NonElfAndEmptyFilesHaveNoSections) {
  EXPECT_EQ(lookUp("").outcome, Outcome::absent);
  EXPECT_EQ(lookUp("#!/bin/sh\necho hello\n").outcome, Outcome::absent);
  EXPECT_EQ(readElfSection(-1, 0, "__info_plist", 16).outcome, Outcome::absent);
}

TEST(ElfSectionTest, MalformedFilesAreRefusedNotRead) {
  ElfImage good(true, "__info_plist", "<plist/>");
  auto malformed = [](const std::string& bytes, size_t limit = 1 << 20) {
    return lookUp(bytes, "__info_plist", limit).outcome == Outcome::malformed;
  };
  std::string bigEndian = good.bytes;
  bigEndian[5] = 2;
  EXPECT_TRUE(malformed(bigEndian));
  EXPECT_TRUE(malformed(good.bytes.substr(0, 40))); // truncated header

  for (uint64_t offset : {uint64_t(1) << 30, ~uint64_t(0) - 8}) {
    ElfImage tableOutside = good;
    tableOutside.setHeaderField(40, 32, offset, 8);
    EXPECT_TRUE(malformed(tableOutside.bytes));
  }

  ElfImage tooMany = good;
  tooMany.setHeaderField(60, 48, 0xFFF0, 2);
  EXPECT_TRUE(malformed(tooMany.bytes));

  ElfImage wrongEntrySize = good;
  wrongEntrySize.setHeaderField(58, 46, 63, 2);
  EXPECT_TRUE(malformed(wrongEntrySize.bytes));

  ElfImage namesIndexOutside = good;
  namesIndexOutside.setHeaderField(62, 50, 9, 2);
  EXPECT_TRUE(malformed(namesIndexOutside.bytes));

  for (uint64_t offset : {uint64_t(1) << 40, ~uint64_t(0) - 2}) {
    ElfImage sectionOutside = good;
    sectionOutside.setSection(2, 11, 1, offset, 8);
    EXPECT_TRUE(malformed(sectionOutside.bytes));
  }
  ElfImage sizeWraps = good;
  sizeWraps.setSection(2, 11, 1, 64, ~uint64_t(0));
  EXPECT_TRUE(malformed(sizeWraps.bytes));

  ElfImage noBits = good;
  noBits.setSection(2, 11, 8, 0, 8);
  EXPECT_TRUE(malformed(noBits.bytes));

  EXPECT_TRUE(malformed(good.bytes, 4)); // section larger than allowed

  ElfImage broken32 = ElfImage(false, "__info_plist", "x");
  broken32.setSection(1, 1, 3, 1u << 31, 4);
  EXPECT_TRUE(malformed(broken32.bytes));
}

TEST(ElfSectionTest, OnlyTheGivenLengthIsLookedAt) {
  ElfImage image(true, "__info_plist", "<plist/>");
  // A trailer after the code does not count: the same image cut short of its table is refused.
  UniqueFd file(::memfd_create("elf-section-test", MFD_CLOEXEC));
  ASSERT_EQ(::write(file.get(), image.bytes.data(), image.bytes.size()),
            static_cast<ssize_t>(image.bytes.size()));
  EXPECT_EQ(readElfSection(file.get(), image.bytes.size(), "__info_plist", 64).outcome,
            Outcome::found);
  EXPECT_EQ(readElfSection(file.get(), image.sectionTableOffset, "__info_plist", 64).outcome,
            Outcome::malformed);
}

TEST(ElfSectionTest, NameOffsetsOutsideTheNameTableAreSkipped) {
  ElfImage image(true, "__info_plist", "<plist/>");
  image.setSection(2, 0xFFFFFF, 1, 64, 8);
  EXPECT_EQ(lookUp(image.bytes).outcome, Outcome::absent);
}

} // namespace
} // namespace platform::loader
