#include "TemporaryFolder.h"
#include "platform/posix/DirectoryReader.h"

#include <algorithm>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::posix {
namespace {

std::vector<std::string> namesOf(DirectoryReader& reader) {
  std::vector<std::string> names;
  while (auto name = reader.next()) {
    names.emplace_back(*name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

class DirectoryReaderTest : public ::testing::Test {
protected:
  void SetUp() override {
    std::ofstream(folder / "a");
    std::ofstream(folder / "..b");
    ASSERT_EQ(::mkdir((folder / "c").c_str(), 0755), 0);
  }
  testing::TemporaryFolder folder;
};

TEST_F(DirectoryReaderTest, ListsEveryEntryButDotAndDotDot) {
  auto reader = DirectoryReader::open(folder.path());
  ASSERT_TRUE(reader);
  EXPECT_EQ(namesOf(*reader), (std::vector<std::string>{"..b", "a", "c"}));
  EXPECT_EQ(reader->error(), 0);
  EXPECT_FALSE(reader->next()); // stays at the end
}

TEST_F(DirectoryReaderTest, ClosesItsDescriptorWhenDestroyedOrClosed) {
  const int before = testing::openDescriptorCount();
  {
    auto reader = DirectoryReader::open(folder.path());
    ASSERT_TRUE(reader);
    EXPECT_EQ(testing::openDescriptorCount(), before + 1);
    reader->next(); // mid-listing
  }
  EXPECT_EQ(testing::openDescriptorCount(), before);

  auto adopted = DirectoryReader::adopt(
      UniqueFd(::open(folder.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)));
  ASSERT_TRUE(adopted);
  EXPECT_GE(adopted->fd(), 0);
  EXPECT_EQ(adopted->close(), 0);
  EXPECT_EQ(adopted->fd(), -1);
  EXPECT_EQ(testing::openDescriptorCount(), before);
}

TEST_F(DirectoryReaderTest, FailuresSetErrnoAndLeakNothing) {
  const int before = testing::openDescriptorCount();
  EXPECT_FALSE(DirectoryReader::open(folder / "missing"));
  EXPECT_EQ(errno, ENOENT);
  EXPECT_FALSE(DirectoryReader::open(folder / "a"));
  EXPECT_EQ(errno, ENOTDIR);
  // A link to a folder is refused with O_NOFOLLOW.
  ASSERT_EQ(::symlink(folder.path().c_str(), (folder / "link").c_str()), 0);
  EXPECT_TRUE(DirectoryReader::open(folder / "link"));
  EXPECT_FALSE(DirectoryReader::open(folder / "link", O_NOFOLLOW));
  // A descriptor of a plain file is closed when no listing can be made of it.
  EXPECT_FALSE(
      DirectoryReader::adopt(UniqueFd(::open((folder / "a").c_str(), O_RDONLY | O_CLOEXEC))));
  EXPECT_EQ(testing::openDescriptorCount(), before);
}

TEST_F(DirectoryReaderTest, TheDescriptorServesAtCallsOnEntries) {
  auto reader = DirectoryReader::open(folder.path());
  ASSERT_TRUE(reader);
  struct stat status {};
  EXPECT_EQ(::fstatat(reader->fd(), "c", &status, AT_SYMLINK_NOFOLLOW), 0);
  EXPECT_TRUE(S_ISDIR(status.st_mode));
}

} // namespace
} // namespace platform::posix
