#include "TemporaryFolder.h"
#include "platform/posix/AtomicFile.h"
#include "platform/posix/ReadWrite.h"

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::posix {
namespace {

std::vector<std::string> entries(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string contents(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class AtomicFileTest : public ::testing::Test {
protected:
  testing::TemporaryFolder folder;
};

TEST_F(AtomicFileTest, ReplacesTheTargetKeepingItsOwnerAndModeAndLeavesNoTemporary) {
  { std::ofstream(folder / "target") << "old"; }
  ASSERT_EQ(::chmod((folder / "target").c_str(), 0640), 0);
  ASSERT_EQ(::chown((folder / "target").c_str(), 1234, 4321), 0); // the tests run as root
  struct stat original {};
  ASSERT_EQ(::stat((folder / "target").c_str(), &original), 0);

  auto file = AtomicFile::create(folder.path(), ".target.");
  ASSERT_TRUE(file);
  EXPECT_EQ(file->name().rfind(".target.", 0), 0u);
  EXPECT_EQ(file->name().size(), std::string(".target.").size() + 6);
  ASSERT_EQ(writeAll(file->fd(), std::string_view("new")), 0);
  EXPECT_FALSE(file->keepOwnerAndMode(original));
  EXPECT_EQ(contents(folder / "target"), "old"); // untouched until the commit
  ASSERT_EQ(file->commit("target", AtomicFile::Durability::fileAndDirectory), 0);

  struct stat replaced {};
  ASSERT_EQ(::stat((folder / "target").c_str(), &replaced), 0);
  EXPECT_EQ(replaced.st_mode & 07777, 0640u);
  EXPECT_EQ(replaced.st_uid, 1234u);
  EXPECT_EQ(replaced.st_gid, 4321u);
  EXPECT_NE(replaced.st_ino, original.st_ino);
  EXPECT_EQ(contents(folder / "target"), "new");
  file.reset();
  EXPECT_EQ(entries(folder.path()), std::vector<std::string>{"target"});
}

TEST_F(AtomicFileTest, AnUncommittedFileIsRemovedAndTheTargetKept) {
  { std::ofstream(folder / "target") << "old"; }
  {
    auto file = AtomicFile::create(folder.path(), "target.");
    ASSERT_TRUE(file);
    ASSERT_EQ(writeAll(file->fd(), std::string_view("partial")), 0);
  }
  EXPECT_EQ(entries(folder.path()), std::vector<std::string>{"target"});
  EXPECT_EQ(contents(folder / "target"), "old");
}

TEST_F(AtomicFileTest, AFailedRenameLeavesNoTemporary) {
  ASSERT_EQ(::mkdir((folder / "occupied").c_str(), 0755), 0);
  ASSERT_EQ(::mkdir((folder / "occupied/inside").c_str(), 0755), 0);
  {
    auto file = AtomicFile::create(folder.path(), "x.");
    ASSERT_TRUE(file);
    // A file cannot be renamed over a directory.
    EXPECT_EQ(file->commit("occupied"), EISDIR);
  }
  EXPECT_EQ(entries(folder.path()), std::vector<std::string>{"occupied"});
}

TEST_F(AtomicFileTest, NeverMovesOrRemovesWhatTookOverItsName) {
  auto file = AtomicFile::create(folder.path(), "x.");
  ASSERT_TRUE(file);
  const std::string temporary = folder / file->name();
  ASSERT_EQ(::unlink(temporary.c_str()), 0);
  ASSERT_EQ(::symlink("/etc/passwd", temporary.c_str()), 0);
  EXPECT_EQ(file->commit("target"), ESTALE);
  file.reset();
  struct stat link {};
  EXPECT_EQ(::lstat(temporary.c_str(), &link), 0); // still there: it is not ours
  EXPECT_FALSE(std::filesystem::exists(folder / "target"));
}

TEST_F(AtomicFileTest, CreationFailsWithErrnoInAMissingFolder) {
  EXPECT_FALSE(AtomicFile::create(folder / "missing", "x."));
  EXPECT_EQ(errno, ENOENT);
}

TEST_F(AtomicFileTest, CreatesWithTheGivenModeLessTheUmask) {
  const mode_t previous = ::umask(022);
  auto file = AtomicFile::create(folder.path(), "x.", 0666);
  ::umask(previous);
  ASSERT_TRUE(file);
  struct stat status {};
  ASSERT_EQ(::fstat(file->fd(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0644u);
}

} // namespace
} // namespace platform::posix
