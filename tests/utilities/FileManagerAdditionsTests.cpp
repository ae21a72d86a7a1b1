#include "TestSupport.h"
#include "utilities/FileManager.h"
#include "utilities/FileManagerAdditions.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace utilities {
namespace {

using test::exists;
using test::TempDir;
using test::writeFile;

void makeTree(const std::string& root) {
  ::mkdir(root.c_str(), 0755);
  ::mkdir((root + "/sub").c_str(), 0755);
  writeFile(root + "/a", "a");
  writeFile(root + "/.hidden", "h");
  writeFile(root + "/sub/b", "b");
}

TEST(RemoveFileAndHandleLock, MissingPathCountsAsRemoved) {
  TempDir dir;
  platform::NSError error("untouched", 1);
  EXPECT_TRUE(removeFileAndHandleLockAtPath(dir / "missing", &error));
  EXPECT_EQ(error.domain(), "untouched");
}

TEST(RemoveFileAndHandleLock, ClearsImmutableFlagsOfItemTreeAndParent) {
  test::ImmutableCapableDir dir;
  if (!dir.available()) {
    GTEST_SKIP() << "no file system with immutable flags (needs ext4 or root for a loop mount)";
  }
  const std::string parent = dir / "parent";
  ::mkdir(parent.c_str(), 0755);
  makeTree(parent + "/tree");
  writeFile(parent + "/file", "locked");
  ASSERT_TRUE(test::setImmutable(parent + "/file", true));
  ASSERT_TRUE(test::setImmutable(parent + "/tree/sub/b", true));
  ASSERT_TRUE(test::setImmutable(parent + "/tree/sub", true));
  ASSERT_TRUE(test::setImmutable(parent, true));

  platform::NSError error;
  EXPECT_TRUE(removeFileAndHandleLockAtPath(parent + "/file", &error));
  EXPECT_FALSE(exists(parent + "/file"));
  EXPECT_FALSE(test::isImmutable(parent));
  ASSERT_TRUE(test::setImmutable(parent, true));
  EXPECT_TRUE(removeFileAndHandleLockAtPath(parent + "/tree", &error));
  EXPECT_FALSE(exists(parent + "/tree"));
}

TEST(RemoveFileAndHandleLock, NeverFollowsLinksOutOfTheTree) {
  TempDir dir;
  makeTree(dir / "outside");
  makeTree(dir / "tree");
  ASSERT_EQ(::symlink((dir / "outside").c_str(), (dir / "tree/link").c_str()), 0);
  ASSERT_EQ(::symlink((dir / "outside").c_str(), (dir / "rootlink").c_str()), 0);
  EXPECT_TRUE(removeFileAndHandleLockAtPath(dir / "tree", nullptr));
  EXPECT_TRUE(
      removeFileAndHandleLockAtPath(dir / "rootlink/", nullptr)); // the link, not its target
  EXPECT_FALSE(exists(dir / "tree"));
  EXPECT_FALSE(exists(dir / "rootlink"));
  EXPECT_TRUE(exists(dir / "outside/sub/b"));
}

TEST(TryToUnlock, LeavesTheTargetOfALinkAlone) {
  test::ImmutableCapableDir dir;
  if (!dir.available()) {
    GTEST_SKIP() << "no file system with immutable flags";
  }
  ::mkdir((dir / "tree").c_str(), 0755);
  writeFile(dir / "target", "t");
  ASSERT_TRUE(test::setImmutable(dir / "target", true));
  ASSERT_EQ(::symlink((dir / "target").c_str(), (dir / "tree/link").c_str()), 0);
  ::mkdir((dir / "targetfolder").c_str(), 0755);
  ASSERT_TRUE(test::setImmutable(dir / "targetfolder", true));
  ASSERT_EQ(::symlink((dir / "targetfolder").c_str(), (dir / "tree/folderlink").c_str()), 0);
  tryToUnlockFileIfNeeded(dir / "tree", true);
  tryToUnlockFileIfNeeded(dir / "tree/link", true);
  tryToUnlockFileIfNeeded(dir / "tree/folderlink/", true);
  EXPECT_TRUE(test::isImmutable(dir / "target"));
  EXPECT_TRUE(test::isImmutable(dir / "targetfolder"));
}

TEST(RemoveFileAndHandleLock, RemovesTreesDeeperThanTheOpenFolderWindow) {
  TempDir dir;
  std::string path = dir / "deep";
  for (int level = 0; level < 300; ++level) {
    ::mkdir(path.c_str(), 0755);
    writeFile(path + "/f", "x");
    path += "/d";
  }
  EXPECT_TRUE(removeFileAndHandleLockAtPath(dir / "deep", nullptr));
  EXPECT_FALSE(exists(dir / "deep"));
}

TEST(FileManager, UntrustedPathsGiveClearErrors) {
  TempDir dir;
  auto& fileManager = FileManager::defaultManager();
  writeFile(dir / "line\nbreak", "x");
  EXPECT_TRUE(removeFileAndHandleLockAtPath(dir / "line\nbreak", nullptr));
  EXPECT_FALSE(exists(dir / "line\nbreak"));
  writeFile(dir / "\xff\xfe", "x");
  EXPECT_TRUE(removeFileAndHandleLockAtPath(dir / "\xff\xfe", nullptr));

  platform::NSError error;
  const std::string longPath = dir.path() + "/" + std::string(5000, 'a');
  EXPECT_FALSE(removeFileAndHandleLockAtPath(longPath, &error));
  EXPECT_EQ(error.code(), platform::NSFileWriteInvalidFileNameError);
  EXPECT_FALSE(fileManager.createDirectoryAtPath(longPath, true, &error));
  EXPECT_EQ(error.code(), platform::NSFileWriteInvalidFileNameError);
  EXPECT_FALSE(fileManager.removeItemAtPath(std::string("a\0b", 3), &error));
  EXPECT_EQ(error.code(), platform::NSFileNoSuchFileError);
  EXPECT_FALSE(fileManager.removeItemAtPath("/", &error));
  EXPECT_EQ(error.code(), platform::NSFileWriteNoPermissionError);
  EXPECT_FALSE(truncateFileAtPath(""));
  EXPECT_FALSE(securelyRemoveFileAtPath("", &error));
}

TEST(TruncateFile, OnlyExistingRegularFiles) {
  TempDir dir;
  writeFile(dir / "file", "contents");
  makeTree(dir / "folder");
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0644), 0);
  EXPECT_TRUE(truncateFileAtPath(dir / "file"));
  EXPECT_EQ(test::readFile(dir / "file"), "");
  EXPECT_FALSE(truncateFileAtPath(dir / "folder"));
  EXPECT_EQ(test::readFile(dir / "folder/a"), "a");
  EXPECT_FALSE(truncateFileAtPath(dir / "missing"));
  EXPECT_FALSE(truncateFileAtPath(dir / "fifo"));
}

TEST(RemoveContentsOfDirectory, EmptiesTheFolderAndKeepsIt) {
  TempDir dir;
  ::mkdir((dir / "empty").c_str(), 0755);
  EXPECT_TRUE(removeContentsOfDirectoryAtPath(dir / "empty"));
  EXPECT_FALSE(removeContentsOfDirectoryAtPath(dir / "missing"));
  makeTree(dir / "full");
  EXPECT_TRUE(removeContentsOfDirectoryAtPath(dir / "full"));
  EXPECT_TRUE(exists(dir / "full"));
  EXPECT_TRUE(
      FileManager::defaultManager().contentsOfDirectoryAtPath(dir / "full", nullptr)->empty());
}

TEST(Move, PlainMoveNeverReplacesAnExistingItem) {
  TempDir dir;
  writeFile(dir / "source", "s");
  writeFile(dir / "destination", "d");
  platform::NSError error;
  EXPECT_FALSE(
      FileManager::defaultManager().moveItemAtPath(dir / "source", dir / "destination", &error));
  EXPECT_EQ(error.domain(), platform::NSCocoaErrorDomain);
  EXPECT_EQ(error.code(), platform::NSFileWriteFileExistsError);
  EXPECT_EQ(test::readFile(dir / "destination"), "d");
  EXPECT_FALSE(FileManager::defaultManager().moveItemAtPath(dir / "missing", dir / "x", &error));
  EXPECT_EQ(error.code(), platform::NSFileNoSuchFileError);
}

TEST(AdvancedMove, SameFolderCreatesParentsAndTrash) {
  TempDir dir;
  writeFile(dir / "item", "i");
  platform::NSError error;
  EXPECT_TRUE(advancedMoveItemAtPath(dir / "item", dir.path(), &error));
  EXPECT_TRUE(exists(dir / "item"));
  EXPECT_TRUE(advancedMoveItemAtPath(dir / "item", dir / "new/parents/item", &error));
  EXPECT_EQ(test::readFile(dir / "new/parents/item"), "i");
  writeFile(dir / "other", "o");
  EXPECT_FALSE(advancedMoveItemAtPath(dir / "other", dir / "new/parents/item", &error));
  EXPECT_EQ(error.code(), platform::NSFileWriteFileExistsError);
  EXPECT_FALSE(advancedMoveItemAtPath(dir / "other", "bare-name", &error));
  EXPECT_EQ(error.code(), 3328);
  EXPECT_TRUE(exists(dir / "other"));
}

TEST(Move, AcrossFileSystemsCopiesThenRemoves) {
  TempDir dir;
  struct stat tmpInfo, shmInfo;
  if (::stat(dir.path().c_str(), &tmpInfo) != 0 || ::stat("/dev/shm", &shmInfo) != 0 ||
      tmpInfo.st_dev == shmInfo.st_dev) {
    GTEST_SKIP() << "no second file system at /dev/shm";
  }
  makeTree(dir / "tree");
  ASSERT_EQ(::symlink("sub/b", (dir / "tree/link").c_str()), 0);
  ::chmod((dir / "tree/a").c_str(), 0640);
  char pattern[] = "/dev/shm/utilities-move-XXXXXX";
  ASSERT_NE(::mkdtemp(pattern), nullptr);
  const std::string target = std::string(pattern) + "/tree";
  platform::NSError error;
  EXPECT_TRUE(FileManager::defaultManager().moveItemAtPath(dir / "tree", target, &error));
  EXPECT_FALSE(exists(dir / "tree"));
  EXPECT_EQ(test::readFile(target + "/sub/b"), "b");
  EXPECT_EQ(test::readFile(target + "/.hidden"), "h");
  char link[64] = {};
  EXPECT_EQ(::readlink((target + "/link").c_str(), link, sizeof link - 1), 5);
  EXPECT_STREQ(link, "sub/b");
  struct stat info;
  ASSERT_EQ(::stat((target + "/a").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0640u);
  test::shell(std::string("rm -rf ") + pattern);
}

TEST(SecureRemove, RemovesTreesAndSparesHardLinkedData) {
  TempDir dir;
  makeTree(dir / "tree");
  writeFile(dir / "shared", "keep me");
  ASSERT_EQ(::link((dir / "shared").c_str(), (dir / "tree/hardlink").c_str()), 0);
  platform::NSError error;
  EXPECT_TRUE(securelyRemoveFileAtPath(dir / "tree", &error));
  EXPECT_FALSE(exists(dir / "tree"));
  EXPECT_EQ(test::readFile(dir / "shared"), "keep me");
  EXPECT_FALSE(securelyRemoveFileAtPath(dir / "missing", &error));
  EXPECT_EQ(error.domain(), "com.quillby.Lumora.SecureRemoveErrorDomain");
  EXPECT_EQ(error.code(), -1);
}

TEST(Listings, FullPathsLevelsAndSecondLevelNames) {
  TempDir dir;
  makeTree(dir / "root");
  ::mkdir((dir / "root/.hiddenfolder").c_str(), 0755);
  writeFile(dir / "root/.hiddenfolder/x", "x");
  writeFile(dir / "root/sub/.dot", "x");

  auto full = directoryContentsWithFullPathsAtPath(dir / "root");
  std::sort(full.begin(), full.end());
  EXPECT_EQ(full, (std::vector<std::string>{dir / "root/.hidden", dir / "root/.hiddenfolder",
                                            dir / "root/a", dir / "root/sub"}));
  EXPECT_TRUE(directoryContentsWithFullPathsAtPath(dir / "missing").empty());

  auto level1 = contentsOfDirectoryAtURL(platform::URL::fileURLWithPath(dir / "root"), 1);
  ASSERT_EQ(level1.size(), 1u);
  EXPECT_EQ(level1[0].path(), dir / "root/sub/b");

  auto names = getContentOfPath(dir / "root", true);
  EXPECT_EQ(names, (std::set<std::string>{".hidden", ".hiddenfolder", ".hiddenfolder/x", "a", "sub",
                                          "sub/.dot", "sub/b"}));
  EXPECT_EQ(getContentOfPath(dir / "root", false).size(), 4u);
}

} // namespace
} // namespace utilities
