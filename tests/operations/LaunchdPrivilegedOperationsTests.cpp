#include "FileTestSupport.h"
#include "api/PrivilegedOperationError.h"
#include "lipo/LipoTestSupport.h"
#include "operations/LaunchdPrivilegedOperations.h"
#include "utilities/FileFlags.h"
#include "utilities/FileManagerAdditions.h"
#include "utilities/UniqueFd.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace operations {
namespace {

using lipo::test::exists;
using lipo::test::TemporaryDirectory;

using test::readText;
using test::setImmutable;
using test::writeText;

class LaunchdPrivilegedOperationsTests : public ::testing::Test {
protected:
  void SetUp() override {
    ::mkdir(directory_.file("helpers").c_str(), 0755);
    ::mkdir(directory_.file("jobs").c_str(), 0755);
    // The stub records its argv, prints the file "stdout" if the test wrote one, and always
    // complains on its error output, which must not count.
    writeText(directory_.file("launchctl"),
              "#!/bin/sh\n"
              "printf '%s\\n' \"$*\" >> '" +
                  directory_.file("calls") +
                  "'\n"
                  "[ -f '" +
                  directory_.file("stdout") + "' ] && /bin/cat '" + directory_.file("stdout") +
                  "'\n"
                  "echo 'noise on the error stream' >&2\n"
                  "exit 3\n",
              0755);
  }
  void TearDown() override { utilities::tryToUnlockFileIfNeeded(directory_.path(), true); }

  std::string jobFile(const std::string& name) {
    const std::string path = directory_.file("jobs/" + name);
    writeText(path, "<plist/>");
    return path;
  }
  std::string calls() const { return readText(directory_.file("calls")); }

  TemporaryDirectory directory_;
  LaunchdPrivilegedOperations operations_{directory_.file("launchctl"), directory_.file("helpers")};
};

TEST_F(LaunchdPrivilegedOperationsTests, RemovesTheHelperNamedByTheFileAndTheFile) {
  const std::string path = jobFile("com.example.helper.plist");
  writeText(directory_.file("helpers/com.example.helper"), "binary");
  writeText(directory_.file("helpers/com.example.other"), "binary");

  EXPECT_TRUE(operations_.removeLaunchAgent(platform::URL::fileURLWithPath(path)));
  EXPECT_EQ(calls(), "unload " + path + "\n");
  EXPECT_FALSE(exists(path));
  EXPECT_FALSE(exists(directory_.file("helpers/com.example.helper")));
  EXPECT_TRUE(exists(directory_.file("helpers/com.example.other")));
  // Nothing left: a missing helper and a missing file count as removed.
  EXPECT_TRUE(operations_.removeLaunchAgent(platform::URL::fileURLWithPath(path)));
}

TEST_F(LaunchdPrivilegedOperationsTests, AnUnloadThatPrintsKeepsEverything) {
  const std::string path = jobFile("com.example.helper.plist");
  writeText(directory_.file("helpers/com.example.helper"), "binary");
  writeText(directory_.file("stdout"), "Could not find specified service\n");

  EXPECT_FALSE(operations_.removeLaunchAgent(platform::URL::fileURLWithPath(path)));
  EXPECT_TRUE(exists(path));
  EXPECT_TRUE(exists(directory_.file("helpers/com.example.helper")));
}

TEST_F(LaunchdPrivilegedOperationsTests, ALabelThatIsNoFileNameNeverRemovesAFolder) {
  writeText(directory_.file("helpers/com.example.helper"), "binary");
  // "..plist" gives the label ".", "...plist" gives "..": the helper folder and its parent.
  for (const char* name : {"..plist", "...plist"}) {
    const std::string path = jobFile(name);
    EXPECT_TRUE(operations_.removeLaunchAgent(platform::URL::fileURLWithPath(path))) << name;
    EXPECT_FALSE(exists(path)) << name;
  }
  EXPECT_TRUE(exists(directory_.file("helpers/com.example.helper")));
  EXPECT_TRUE(exists(directory_.file("launchctl")));
}

TEST_F(LaunchdPrivilegedOperationsTests, AHelperThatCannotBeRemovedKeepsTheJobFile) {
  const std::string path = jobFile("com.example.helper.plist");
  const std::string helper = directory_.file("helpers/com.example.helper");
  ::mkdir(helper.c_str(), 0755);
  writeText(helper + "/locked", "binary");
  if (!setImmutable(helper + "/locked")) {
    GTEST_SKIP() << "this file system keeps no immutable flags";
  }
  try {
    operations_.removeLaunchAgent(platform::URL::fileURLWithPath(path));
    FAIL() << "nothing thrown";
  } catch (const std::exception& error) {
    auto failure = api::PrivilegedOperationError::from(error);
    EXPECT_EQ(failure.domain, platform::NSCocoaErrorDomain);
    EXPECT_EQ(failure.code, platform::NSFileWriteNoPermissionError);
  }
  EXPECT_TRUE(exists(path));
}

TEST_F(LaunchdPrivilegedOperationsTests, AFolderIsNoJobFile) {
  const std::string folder = directory_.file("jobs/com.example.helper.plist");
  ::mkdir(folder.c_str(), 0755);
  writeText(folder + "/inner.plist", "<plist/>");
  writeText(directory_.file("helpers/com.example.helper"), "binary");

  EXPECT_FALSE(operations_.removeLaunchAgent(platform::URL::fileURLWithPath(folder)));
  EXPECT_TRUE(exists(folder + "/inner.plist"));
  EXPECT_TRUE(exists(directory_.file("helpers/com.example.helper")));
  EXPECT_EQ(calls(), "");
}

TEST_F(LaunchdPrivilegedOperationsTests, APathThatNamesNothingRunsNothing) {
  const std::pair<const char*, int64_t> cases[] = {
      {"relative.plist", platform::NSFileWriteInvalidFileNameError},
      {"https://example.com/jobs/x.plist", platform::NSFileWriteInvalidFileNameError},
      {"file:///tmp/..", platform::NSFileWriteNoPermissionError},
  };
  for (const auto& [text, code] : cases) {
    try {
      operations_.removeLaunchAgent(*platform::URL::fromString(text));
      ADD_FAILURE() << "nothing thrown for " << text;
    } catch (const platform::NSErrorException& error) {
      EXPECT_EQ(error.error().code(), code) << text;
    }
  }
  EXPECT_EQ(calls(), "");
}

} // namespace
} // namespace operations
