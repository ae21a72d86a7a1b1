// The parsers of the /proc files that the hardened-runtime checks read, fed with what the kernel
// writes and with contents it never writes.
#include "platform/security/AuxiliaryVector.h"
#include "platform/security/MemoryMaps.h"
#include "platform/security/ProcessStatus.h"

#include <cstring>
#include <elf.h>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <sys/auxv.h>
#include <unistd.h>

namespace platform::security {
namespace {

std::string readWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The bytes of an auxiliary vector of `Word`s holding `pairs` (no terminator added).
template <typename Word> std::string vectorBytes(std::initializer_list<Word> words) {
  std::string bytes;
  for (Word word : words) {
    bytes.append(reinterpret_cast<const char*>(&word), sizeof word);
  }
  return bytes;
}

TEST(AuxiliaryVector, ReadsTheKernelsVectorOfThisProcess) {
  AuxiliaryVector vector;
  std::string reason;
  ASSERT_TRUE(
      AuxiliaryVector::parse(readWholeFile("/proc/self/auxv"), sizeof(long), vector, reason))
      << reason;
  EXPECT_EQ(vector.value(AT_SECURE), getauxval(AT_SECURE));
  EXPECT_EQ(vector.value(AT_PAGESZ), static_cast<uint64_t>(::sysconf(_SC_PAGESIZE)));
  EXPECT_FALSE(vector.value(0x7fff'0000));
}

TEST(AuxiliaryVector, ReadsBothWordSizes) {
  AuxiliaryVector vector;
  std::string reason;
  ASSERT_TRUE(AuxiliaryVector::parse(vectorBytes<uint32_t>({AT_SECURE, 1, AT_UID, 7, AT_NULL, 0}),
                                     4, vector, reason));
  EXPECT_EQ(vector.value(AT_SECURE), 1u);
  EXPECT_EQ(vector.value(AT_UID), 7u);
  ASSERT_TRUE(AuxiliaryVector::parse(vectorBytes<uint64_t>({AT_NULL, 0}), 8, vector, reason));
  EXPECT_EQ(vector.size(), 0u);
  EXPECT_FALSE(vector.value(AT_SECURE));
}

TEST(AuxiliaryVector, RefusesWhatTheKernelNeverWrites) {
  const std::pair<const char*, std::string> cases[] = {
      {"empty", ""},
      {"half an entry", vectorBytes<uint64_t>({AT_SECURE, 1, AT_NULL})},
      {"a ragged length", vectorBytes<uint64_t>({AT_NULL, 0}) + "x"},
      {"no terminator", vectorBytes<uint64_t>({AT_SECURE, 1})},
      {"entries after the terminator", vectorBytes<uint64_t>({AT_NULL, 0, AT_SECURE, 1})},
      // A second AT_SECURE could otherwise make 0 read as 1 to a careless reader.
      {"a type given twice", vectorBytes<uint64_t>({AT_SECURE, 0, AT_SECURE, 1, AT_NULL, 0})},
  };
  for (const auto& [name, bytes] : cases) {
    AuxiliaryVector vector;
    std::string reason;
    EXPECT_FALSE(AuxiliaryVector::parse(bytes, 8, vector, reason)) << name;
    EXPECT_FALSE(reason.empty()) << name;
  }
  std::string many;
  for (uint64_t type = 1; type <= AuxiliaryVector::kMaxEntries + 1; ++type) {
    many += vectorBytes<uint64_t>({type + 100, 0});
  }
  AuxiliaryVector vector;
  std::string reason;
  EXPECT_FALSE(
      AuxiliaryVector::parse(many + vectorBytes<uint64_t>({AT_NULL, 0}), 8, vector, reason));
  EXPECT_FALSE(AuxiliaryVector::parse(vectorBytes<uint64_t>({AT_NULL, 0}), 2, vector, reason));
}

TEST(MemoryMaps, ReadsTheKernelsFormat) {
  const std::string text =
      "55d4c5a00000-55d4c5a02000 r--p 00000000 fe:01 1837                       /usr/bin/cat\n"
      "55d4c5a02000-55d4c5a07000 r-xp 00002000 fe:01 1837                       /usr/bin/cat\n"
      "7f0e1c000000-7f0e1c021000 rw-p 00000000 00:00 0 \n"
      "7f0e1c200000-7f0e1c228000 r-xp 00028000 fe:01 2201   /tmp/a lib (deleted) (deleted)\n"
      "7ffd3b5f0000-7ffd3b5f2000 r-xp 00000000 00:00 0                          [vdso]\n"
      "ffffffffff600000-ffffffffff601000 --xp 00000000 00:00 0                  [vsyscall]\n"
      "7f0e1c300000-7f0e1c301000 r-xs 00000000 00:01 3077                       /memfd:x "
      "(deleted)\n";
  std::vector<MemoryMapping> mappings;
  std::string reason;
  ASSERT_TRUE(MemoryMaps::parse(text, mappings, reason)) << reason;
  ASSERT_EQ(mappings.size(), 7u);
  EXPECT_EQ(mappings[0].start, 0x55d4c5a00000u);
  EXPECT_FALSE(mappings[0].executable);
  EXPECT_TRUE(mappings[1].executable);
  EXPECT_EQ(mappings[1].inode, 1837u);
  EXPECT_EQ(mappings[1].name, "/usr/bin/cat");
  EXPECT_EQ(mappings[1].mapFilesName(), "55d4c5a02000-55d4c5a07000");
  EXPECT_EQ(mappings[2].inode, 0u);
  EXPECT_EQ(mappings[2].name, "");
  EXPECT_EQ(mappings[3].name, "/tmp/a lib (deleted) (deleted)");
  EXPECT_EQ(mappings[4].name, "[vdso]");
  EXPECT_EQ(mappings[5].end, 0xffffffffff601000u);
  EXPECT_TRUE(mappings[6].executable);

  ASSERT_TRUE(MemoryMaps::parse(readWholeFile("/proc/self/maps"), mappings, reason)) << reason;
  EXPECT_GT(mappings.size(), 5u);
  EXPECT_TRUE(MemoryMaps::parse("", mappings, reason));
  EXPECT_TRUE(mappings.empty());
}

TEST(MemoryMaps, RefusesMalformedLines) {
  const char* cases[] = {
      "1000-2000 r-xp 00000000 fe:01 12 /lib\n1000-2000 r-xp",           // last line not ended
      "2000-1000 r-xp 00000000 fe:01 12 /lib\n",                         // start after end
      "1000-1000 r-xp 00000000 fe:01 12 /lib\n",                         // empty range
      "1000-2000 rwxq 00000000 fe:01 12 /lib\n",                         // unknown sharing letter
      "1000-2000 xr-p 00000000 fe:01 12 /lib\n",                         // letters out of place
      "1000-2000 r-x 00000000 fe:01 12 /lib\n",                          // three letters
      "1000_2000 r-xp 00000000 fe:01 12 /lib\n",                         // no dash
      "10000000000000000-10000000000000001 r-xp 00000000 fe:01 12 /l\n", // 17 hex digits
      "1000-2000 r-xp 00000000 fe01 12 /lib\n",                          // no colon
      "1000-2000 r-xp 00000000 fe:01 1x2 /lib\n",                        // inode not decimal
      "1000-2000 r-xp 00000000 fe:01 12/lib\n",                          // name glued to inode
      "1000-2000 r-xp 00000000 fe:01 99999999999999999999999 /lib\n",    // inode overflows
      "-2000 r-xp 00000000 fe:01 12 /lib\n",                             // no start
      "\n",                                                              // empty line
  };
  for (const char* text : cases) {
    std::vector<MemoryMapping> mappings;
    std::string reason;
    EXPECT_FALSE(MemoryMaps::parse(text, mappings, reason)) << text;
    EXPECT_FALSE(reason.empty()) << text;
  }
}

TEST(ProcessIds, ReadsTheIdsOfThisProcess) {
  ProcessIds ids;
  std::string reason;
  ASSERT_TRUE(ProcessIds::parse(readWholeFile("/proc/self/status"), ids, reason)) << reason;
  EXPECT_EQ(ids.uids[0], ::getuid());
  EXPECT_EQ(ids.uids[1], ::geteuid());
  EXPECT_EQ(ids.realGroup(), ::getgid());
  EXPECT_EQ(ids.effectiveGroup(), ::getegid());
  const int count = ::getgroups(0, nullptr);
  EXPECT_EQ(ids.supplementaryGroups.size(), static_cast<size_t>(count));

  ASSERT_TRUE(
      ProcessIds::parse("Uid:\t1\t2\t3\t4\nGid:\t5\t6\t7\t8\nGroups:\t9 10 \n", ids, reason));
  EXPECT_EQ(ids.effectiveGroup(), 6u);
  EXPECT_TRUE(ids.hasSupplementaryGroup(10));
  EXPECT_FALSE(ids.hasSupplementaryGroup(6));
  ASSERT_TRUE(ProcessIds::parse("Uid:\t1\t2\t3\t4\nGid:\t5\t6\t7\t8\nGroups:\t\n", ids, reason));
  EXPECT_TRUE(ids.supplementaryGroups.empty());
}

TEST(ProcessIds, RefusesIncompleteOrForeignLines) {
  const char* cases[] = {
      "Gid:\t5\t6\t7\t8\nGroups:\t\n",                            // no Uid line
      "Uid:\t1\t2\t3\t4\nGroups:\t\n",                            // no Gid line
      "Uid:\t1\t2\t3\t4\nGid:\t5\t6\t7\t8\n",                     // no Groups line
      "Uid:\t1\t2\t3\t4\nGid:\t5\t6\t7\nGroups:\t\n",             // three group ids
      "Uid:\t1\t2\t3\t4\nGid:\t5\t6\t7\t8\t9\nGroups:\t\n",       // five group ids
      "Uid:\t1\t2\t3\t4\nGid:\t5\t-6\t7\t8\nGroups:\t\n",         // a sign
      "Uid:\t1\t2\t3\t4\nGid:\t5\t4294967296\t7\t8\nGroups:\t\n", // beyond 32 bits
      "Uid:\t1\t2\t3\t4\nGid:\t5\t6x\t7\t8\nGroups:\t\n",         // trailing letters
      "Uid:\t1\t2\t3\t4\nGid:\t5\t6\t7\t8\nGroups:\t1 two\n",     // a word among groups
      "XUid:\t1\t2\t3\t4\nGid:\t5\t6\t7\t8\nGroups:\t\n",         // a longer field name
  };
  for (const char* text : cases) {
    ProcessIds ids;
    std::string reason;
    EXPECT_FALSE(ProcessIds::parse(text, ids, reason)) << text;
    EXPECT_FALSE(reason.empty()) << text;
  }
}

} // namespace
} // namespace platform::security
