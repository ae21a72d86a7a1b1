#include "FileTestSupport.h"
#include "api/PrivilegedOperationError.h"
#include "lipo/LipoTestSupport.h"
#include "operations/FileSystemPrivilegedOperations.h"
#include "utilities/FileFlags.h"
#include "utilities/FileManagerAdditions.h"
#include "utilities/UniqueFd.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace operations {
namespace {

using lipo::test::exists;
using lipo::test::TemporaryDirectory;

using test::setImmutable;
using test::writeText;

platform::URL fileURL(const std::string& path) {
  return platform::URL::fileURLWithPath(path);
}
platform::URL url(const std::string& text) {
  return *platform::URL::fromString(text);
}

// What the client receives for whatever `body` throws.
api::PrivilegedOperationError failureOf(const std::function<void()>& body) {
  try {
    body();
  } catch (...) {
    return api::PrivilegedOperationError::from(std::current_exception());
  }
  return api::PrivilegedOperationError(-1, "<nothing thrown>", "");
}

class FileSystemPrivilegedOperationsTests : public ::testing::Test {
protected:
  // Flags left behind by a failing test would keep the folder from being removed.
  void TearDown() override { utilities::tryToUnlockFileIfNeeded(directory_.path(), true); }

  AgentInstallation testInstallation(std::optional<std::string> identifier) {
    ::mkdir(directory_.file("PrivilegedHelperTools").c_str(), 0755);
    ::mkdir(directory_.file("LaunchDaemons").c_str(), 0755);
    AgentInstallation installation;
    installation.bundleIdentifier = std::move(identifier);
    installation.privilegedHelperToolsPath = directory_.file("PrivilegedHelperTools");
    installation.launchDaemonsPath = directory_.file("LaunchDaemons");
    installation.terminate = [this] { ++terminations_; };
    return installation;
  }

  TemporaryDirectory directory_;
  FileSystemPrivilegedOperations operations_;
  int terminations_ = 0;
};

TEST_F(FileSystemPrivilegedOperationsTests, ExistenceFollowsLinksAndNeverFails) {
  const std::string file = directory_.file("file with\nnewline");
  writeText(file, "x");
  ASSERT_EQ(::symlink(file.c_str(), directory_.file("link").c_str()), 0);
  ASSERT_EQ(::symlink("/nonexistent/target", directory_.file("dangling").c_str()), 0);

  EXPECT_TRUE(operations_.fileExists(fileURL(file)));
  EXPECT_TRUE(operations_.fileExists(fileURL(directory_.file("link"))));
  EXPECT_FALSE(operations_.fileExists(fileURL(directory_.file("dangling"))));
  EXPECT_FALSE(operations_.fileExists(fileURL(directory_.file("missing"))));
  // File names are bytes: one that is not UTF-8 is reached through its percent-encoded URL.
  const std::string raw = directory_.file("\xFF\xFE");
  writeText(raw, "x");
  EXPECT_TRUE(operations_.fileExists(fileURL(raw)));
  // Only file URLs name files, whatever their path.
  EXPECT_FALSE(
      operations_.fileExists(url("https://example.com" + platform::percentEncodePath(file))));
  // Paths that name nothing: relative, NUL inside, far too long.
  EXPECT_FALSE(operations_.fileExists(url("tmp")));
  EXPECT_FALSE(operations_.fileExists(url("file:///tmp%00/x")));
  EXPECT_FALSE(operations_.fileExists(fileURL("/" + std::string(100000, 'a'))));
}

TEST_F(FileSystemPrivilegedOperationsTests, RemovalTakesMissingLockedAndWholeItems) {
  EXPECT_TRUE(operations_.removeFile(fileURL(directory_.file("missing"))));

  const std::string folder = directory_.file("folder");
  ::mkdir(folder.c_str(), 0755);
  writeText(folder + "/inner", "x");
  EXPECT_TRUE(operations_.removeFile(fileURL(folder)));
  EXPECT_FALSE(exists(folder));

  const std::string locked = directory_.file("locked");
  writeText(locked, "x");
  if (!setImmutable(locked)) {
    GTEST_SKIP() << "this file system keeps no immutable flags";
  }
  EXPECT_TRUE(operations_.removeFile(fileURL(locked)));
  EXPECT_FALSE(exists(locked));
}

TEST_F(FileSystemPrivilegedOperationsTests, RemovalOfAPathThatNamesNothingIsNoSuccess) {
  for (const char* text : {"https://example.com/tmp", "relative/file", "file:///tmp%00x"}) {
    auto failure = failureOf([&] { operations_.removeFile(url(text)); });
    EXPECT_EQ(failure.domain, platform::NSCocoaErrorDomain) << text;
    EXPECT_EQ(failure.code, platform::NSFileWriteInvalidFileNameError) << text;
  }
}

TEST_F(FileSystemPrivilegedOperationsTests, TheRootFolderIsNeverRemoved) {
  for (const char* path : {"/", "//", "/.", "/tmp/..", "/./tmp/../..", "/.."}) {
    EXPECT_TRUE(namesRootFolder(path)) << path;
    auto failure = failureOf([&] { operations_.removeFile(fileURL(path)); });
    EXPECT_EQ(failure.code, platform::NSFileWriteNoPermissionError) << path;
  }
  for (const char* path : {"/tmp", "/tmp/../usr", "/..a", "/.../"}) {
    EXPECT_FALSE(namesRootFolder(path)) << path;
  }
}

TEST_F(FileSystemPrivilegedOperationsTests, TruncationOnlyOfExistingFiles) {
  const std::string file = directory_.file("file");
  writeText(file, "some content");
  EXPECT_TRUE(operations_.truncateFile(fileURL(file)));
  struct stat info;
  ASSERT_EQ(::stat(file.c_str(), &info), 0);
  EXPECT_EQ(info.st_size, 0);

  const std::string folder = directory_.file("folder");
  ::mkdir(folder.c_str(), 0755);
  EXPECT_FALSE(operations_.truncateFile(fileURL(folder)));
  EXPECT_TRUE(exists(folder));
  EXPECT_FALSE(operations_.truncateFile(fileURL(directory_.file("missing"))));
  EXPECT_FALSE(operations_.truncateFile(url("file")));
}

TEST_F(FileSystemPrivilegedOperationsTests, SizeIsWholeBlocksAndZeroWhenUnmeasurable) {
  const std::string file = directory_.file("file");
  writeText(file, std::string(10000, 'x'));
  uint64_t size = operations_.fileSize(fileURL(file));
  EXPECT_GE(size, 10000u);
  EXPECT_EQ(size % 512, 0u);
  EXPECT_EQ(operations_.fileSize(fileURL(directory_.file("missing"))), 0u);
  EXPECT_EQ(operations_.fileSize(url("https://example.com" + platform::percentEncodePath(file))),
            0u);
  EXPECT_EQ(operations_.fileSize(url("relative")), 0u);
}

TEST_F(FileSystemPrivilegedOperationsTests, MoveNeverReplacesAnExistingItem) {
  const std::string source = directory_.file("source");
  const std::string destination = directory_.file("destination");
  writeText(source, "moved");
  EXPECT_TRUE(operations_.moveFile(source, destination));
  EXPECT_FALSE(exists(source));
  EXPECT_TRUE(exists(destination));

  writeText(source, "second");
  auto failure = failureOf([&] { operations_.moveFile(source, destination); });
  EXPECT_EQ(failure.domain, platform::NSCocoaErrorDomain);
  EXPECT_EQ(failure.code, platform::NSFileWriteFileExistsError);
  EXPECT_TRUE(exists(source));
  EXPECT_EQ(lipo::test::readFile(destination), platform::Bytes({'m', 'o', 'v', 'e', 'd'}));

  failure = failureOf([&] { operations_.moveFile(directory_.file("missing"), source + "2"); });
  EXPECT_EQ(failure.code, platform::NSFileNoSuchFileError);
  // No folder is created for the plain move.
  failure = failureOf([&] { operations_.moveFile(source, directory_.file("new/destination")); });
  EXPECT_EQ(failure.code, platform::NSFileNoSuchFileError);
  failure = failureOf([&] { operations_.moveFile(source, "relative"); });
  EXPECT_EQ(failure.code, platform::NSFileWriteInvalidFileNameError);
  EXPECT_TRUE(exists(source));
}

TEST_F(FileSystemPrivilegedOperationsTests, SelfRemovalTakesExecutableAndJobFileThenEnds) {
  FileSystemPrivilegedOperations operations(testInstallation("com.quillby.Lumora5.Agent"));
  const std::string executable = directory_.file("PrivilegedHelperTools/com.quillby.Lumora5.Agent");
  const std::string jobFile = directory_.file("LaunchDaemons/com.quillby.Lumora5.Agent.plist");
  writeText(executable, "binary");
  writeText(jobFile, "plist");
  writeText(directory_.file("LaunchDaemons/other.plist"), "plist");

  operations.removePrivilegedAgent();
  EXPECT_FALSE(exists(executable));
  EXPECT_FALSE(exists(jobFile));
  EXPECT_TRUE(exists(directory_.file("LaunchDaemons/other.plist")));
  EXPECT_EQ(terminations_, 1);
}

TEST_F(FileSystemPrivilegedOperationsTests, SelfRemovalWithoutExecutableKeepsRunning) {
  FileSystemPrivilegedOperations operations(testInstallation("com.quillby.Lumora5.Agent"));
  const std::string jobFile = directory_.file("LaunchDaemons/com.quillby.Lumora5.Agent.plist");
  writeText(jobFile, "plist");

  auto failure = failureOf([&] { operations.removePrivilegedAgent(); });
  EXPECT_EQ(failure.domain, platform::NSCocoaErrorDomain);
  EXPECT_EQ(failure.code, platform::NSFileNoSuchFileError);
  EXPECT_TRUE(exists(jobFile));
  EXPECT_EQ(terminations_, 0);
}

TEST_F(FileSystemPrivilegedOperationsTests, SelfRemovalNeedsAnIdentifierThatIsAFileName) {
  for (std::optional<std::string> identifier :
       {std::optional<std::string>(), std::optional<std::string>(""),
        std::optional<std::string>(".."), std::optional<std::string>("a/b")}) {
    FileSystemPrivilegedOperations operations(testInstallation(identifier));
    auto failure = failureOf([&] { operations.removePrivilegedAgent(); });
    EXPECT_EQ(failure.domain, "PrivilegedAgent.FileSystemPrivilegedOperationsError");
    EXPECT_EQ(failure.code, 0);
  }
  EXPECT_TRUE(exists(directory_.file("PrivilegedHelperTools")));
  EXPECT_TRUE(exists(directory_.file("LaunchDaemons")));
  EXPECT_EQ(terminations_, 0);
}

TEST(AgentInstallation, TheInstalledAgentIsNamedByItsEmbeddedIdentifier) {
  auto installation = AgentInstallation::installed();
  EXPECT_EQ(installation.bundleIdentifier, "com.quillby.Lumora5.Agent");
  EXPECT_EQ(installation.executablePath(*installation.bundleIdentifier),
            "/Library/PrivilegedHelperTools/com.quillby.Lumora5.Agent");
  EXPECT_EQ(installation.jobFilePath(*installation.bundleIdentifier),
            "/Library/LaunchDaemons/com.quillby.Lumora5.Agent.plist");
  EXPECT_TRUE(installation.terminate != nullptr);
}

} // namespace
} // namespace operations
