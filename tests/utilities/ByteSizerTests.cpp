#include "TestSupport.h"
#include "utilities/LRByteSizer.h"

#include <cstdio>
#include <fcntl.h>
#include <fts.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace utilities {
namespace {

using test::TempDir;
using test::writeFile;

uint64_t duBytes(const std::string& path) {
  std::string command = "du -s -B512 '" + path + "'";
  FILE* pipe = ::popen(command.c_str(), "r");
  unsigned long long blocks = 0;
  if (pipe == nullptr || std::fscanf(pipe, "%llu", &blocks) != 1) {
    blocks = 0;
  }
  if (pipe != nullptr) {
    ::pclose(pipe);
  }
  return blocks * 512;
}

TEST(ByteSizer, MatchesDuForATreeWithoutHardLinks) {
  TempDir dir;
  const std::string root = dir / "tree";
  ::mkdir(root.c_str(), 0755);
  for (int folder = 0; folder < 5; ++folder) {
    std::string sub = root + "/d" + std::to_string(folder);
    ::mkdir(sub.c_str(), 0755);
    ::mkdir((sub + "/nested").c_str(), 0755);
    for (int file = 0; file < 20; ++file) {
      writeFile(sub + "/f" + std::to_string(file), std::string(file * 700, 'x'));
    }
    writeFile(sub + "/nested/big", std::string(300000, 'y'));
  }
  ASSERT_EQ(::symlink("d0/f1", (root + "/link").c_str()), 0);
  int sparse = ::open((root + "/sparse").c_str(), O_CREAT | O_WRONLY, 0644);
  ASSERT_GE(sparse, 0);
  ASSERT_EQ(::ftruncate(sparse, 50 * 1024 * 1024), 0);
  ::close(sparse);

  const uint64_t ours = LRByteSizer::byteSizeAtPath(root);
  EXPECT_EQ(ours % 512, 0u);
  EXPECT_EQ(ours, duBytes(root));
  EXPECT_EQ(LRByteSizer::byteSizeAtURL(platform::URL::fileURLWithPath(root)), ours);
  EXPECT_EQ(LRByteSizer::byteSizeAtPath(root + "/d1/nested/big"), duBytes(root + "/d1/nested/big"));
}

TEST(ByteSizer, NothingMeasurableGivesZero) {
  TempDir dir;
  EXPECT_EQ(LRByteSizer::byteSizeAtPath(""), 0u);
  EXPECT_EQ(LRByteSizer::byteSizeAtPath(dir / "missing"), 0u);
  EXPECT_EQ(LRByteSizer::byteSizeAtPath(std::string("a\0b", 3)), 0u);
  EXPECT_EQ(LRByteSizer::logicalByteSizeAtPath(""), 0u);
  EXPECT_EQ(LRByteSizer::logicalByteSizeAtPath(dir / "missing"), 0u);
  writeFile(dir / "file", std::string(1234, 'z'));
  EXPECT_EQ(LRByteSizer::logicalByteSizeAtPath(dir / "file"), 1234u);
  EXPECT_EQ(LRByteSizer::itemSizeWithFTSEntry(nullptr), 0u);
}

TEST(ByteSizer, ItemSizeOfAWalkEntrySkipsHardLinkedFiles) {
  TempDir dir;
  writeFile(dir / "single", std::string(5000, 's'));
  writeFile(dir / "linked", std::string(5000, 'l'));
  ASSERT_EQ(::link((dir / "linked").c_str(), (dir / "second").c_str()), 0);
  for (const auto& [name, expectZero] : {std::pair{"single", false}, std::pair{"linked", true}}) {
    std::string path = dir / name;
    char* roots[] = {path.data(), nullptr};
    FTS* walk = ::fts_open(roots, FTS_PHYSICAL | FTS_NOCHDIR, nullptr);
    ASSERT_NE(walk, nullptr);
    FTSENT* entry = ::fts_read(walk);
    ASSERT_NE(entry, nullptr);
    uint64_t size = LRByteSizer::itemSizeWithFTSEntry(entry);
    EXPECT_EQ(size, expectZero ? 0u : static_cast<uint64_t>(entry->fts_statp->st_blocks) * 512);
    ::fts_close(walk);
  }
}

} // namespace
} // namespace utilities

namespace utilities {
namespace {

TEST(ByteSizer, ABindMountCycleEndsTheDescent) {
  if (::geteuid() != 0) {
    GTEST_SKIP() << "bind mounts need root";
  }
  test::TempDir dir;
  const std::string root = dir / "tree";
  ::mkdir(root.c_str(), 0755);
  ::mkdir((root + "/sub").c_str(), 0755);
  ::mkdir((root + "/sub/loop").c_str(), 0755);
  test::writeFile(root + "/sub/file", std::string(10000, 'c'));
  if (test::shell("mount --bind '" + root + "' '" + root + "/sub/loop' 2>/dev/null") != 0) {
    GTEST_SKIP() << "bind mount not permitted here";
  }
  const uint64_t size = LRByteSizer::byteSizeAtPath(root);
  test::shell("umount '" + root + "/sub/loop'");
  // The cycle adds nothing: what is counted is the tree without the mount point's folder.
  struct stat loop;
  ASSERT_EQ(::stat((root + "/sub/loop").c_str(), &loop), 0);
  EXPECT_EQ(size, duBytes(root) - static_cast<uint64_t>(loop.st_blocks) * 512);
}

} // namespace
} // namespace utilities
