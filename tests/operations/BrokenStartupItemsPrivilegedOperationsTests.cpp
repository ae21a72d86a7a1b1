#include "FileTestSupport.h"
#include "lipo/LipoTestSupport.h"
#include "operations/BrokenStartupItemsPrivilegedOperations.h"
#include "utilities/LRLaunchdManager.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace operations {
namespace {

using lipo::test::exists;
using lipo::test::TemporaryDirectory;
using test::readText;
using test::writeText;

constexpr const char* kIdentifier = "com.quillby.Lumora5.Agent";

class BrokenStartupItemsPrivilegedOperationsTests : public ::testing::Test {
protected:
  void SetUp() override {
    for (const char* folder : {"PrivilegedHelperTools", "LaunchDaemons", "LaunchAgents"}) {
      ::mkdir(directory_.file(folder).c_str(), 0755);
    }
    // The stub records its argv and prints the file "stdout" if the test wrote one.
    writeText(directory_.file("launchctl"),
              "#!/bin/sh\n"
              "printf '%s\\n' \"$*\" >> '" +
                  directory_.file("calls") + "'\n[ -f '" + directory_.file("stdout") +
                  "' ] && /bin/cat '" + directory_.file("stdout") + "'\nexit 0\n",
              0755);
    utilities::LaunchdEnvironment environment;
    environment.launchctlPath = directory_.file("launchctl");
    environment.privilegedHelperToolsPath = directory_.file("PrivilegedHelperTools");
    utilities::LRLaunchdManager::setEnvironmentForTest(environment);
  }
  void TearDown() override { utilities::LRLaunchdManager::resetEnvironmentForTest(); }

  BrokenStartupItemsPrivilegedOperations operations(std::optional<std::string> identifier) {
    AgentInstallation installation;
    installation.bundleIdentifier = std::move(identifier);
    installation.privilegedHelperToolsPath = directory_.file("PrivilegedHelperTools");
    installation.launchDaemonsPath = directory_.file("LaunchDaemons");
    installation.terminate = [this] { ++terminations_; };
    return BrokenStartupItemsPrivilegedOperations(std::move(installation));
  }
  std::string file(const std::string& name, const std::string& contents = "<plist/>") {
    writeText(directory_.file(name), contents);
    return directory_.file(name);
  }
  std::string calls() const { return readText(directory_.file("calls")); }

  TemporaryDirectory directory_;
  int terminations_ = 0;
};

TEST_F(BrokenStartupItemsPrivilegedOperationsTests, AnotherApplicationsItemGoesWithItsHelper) {
  const std::string path = file("LaunchAgents/com.example.updater.plist", "not a property list");
  const std::string helper = file("PrivilegedHelperTools/com.example.updater", "binary");

  EXPECT_TRUE(
      operations(kIdentifier).removeBrokenStartupItem(platform::URL::fileURLWithPath(path)));
  EXPECT_EQ(calls(), "unload " + path + "\n");
  EXPECT_FALSE(exists(path));
  EXPECT_FALSE(exists(helper));
  EXPECT_EQ(terminations_, 0);
}

TEST_F(BrokenStartupItemsPrivilegedOperationsTests, AnUnloadThatPrintsKeepsTheItem) {
  const std::string path = file("LaunchAgents/com.example.updater.plist");
  file("stdout", "Could not find specified service\n");

  EXPECT_FALSE(
      operations(kIdentifier).removeBrokenStartupItem(platform::URL::fileURLWithPath(path)));
  EXPECT_TRUE(exists(path));
}

TEST_F(BrokenStartupItemsPrivilegedOperationsTests, TheAgentsOwnItemRemovesTheAgentAndEnds) {
  const std::string executable = file(std::string("PrivilegedHelperTools/") + kIdentifier);
  const std::string jobFile = file(std::string("LaunchDaemons/") + kIdentifier + ".plist");

  EXPECT_TRUE(
      operations(kIdentifier).removeBrokenStartupItem(platform::URL::fileURLWithPath(jobFile)));
  EXPECT_FALSE(exists(executable));
  EXPECT_FALSE(exists(jobFile));
  // Once while removing itself, once more for the answer.
  EXPECT_EQ(calls(), "unload " + jobFile + "\nunload " + jobFile + "\n");
  EXPECT_EQ(terminations_, 1);
}

TEST_F(BrokenStartupItemsPrivilegedOperationsTests, AFailedSelfRemovalIsThrownAndKeepsRunning) {
  const std::string jobFile = file(std::string("LaunchDaemons/") + kIdentifier + ".plist");

  try {
    operations(kIdentifier).removeBrokenStartupItem(platform::URL::fileURLWithPath(jobFile));
    FAIL() << "nothing thrown";
  } catch (const platform::NSErrorException& error) {
    EXPECT_EQ(error.error().domain(), platform::NSCocoaErrorDomain);
    EXPECT_EQ(error.error().code(), platform::NSFileNoSuchFileError);
  }
  EXPECT_TRUE(exists(jobFile));
  EXPECT_EQ(calls(), "");
  EXPECT_EQ(terminations_, 0);
}

TEST_F(BrokenStartupItemsPrivilegedOperationsTests, WithoutIdentifierTheOwnFileIsAnOrdinaryItem) {
  const std::string jobFile = file(std::string("LaunchDaemons/") + kIdentifier + ".plist");

  EXPECT_TRUE(
      operations(std::nullopt).removeBrokenStartupItem(platform::URL::fileURLWithPath(jobFile)));
  EXPECT_FALSE(exists(jobFile));
  EXPECT_EQ(terminations_, 0);
}

TEST_F(BrokenStartupItemsPrivilegedOperationsTests, APathThatNamesNoJobFileIsFalse) {
  const std::string folder = directory_.file("LaunchAgents/com.example.folder.plist");
  ::mkdir(folder.c_str(), 0755);
  const std::string folderURL = platform::URL::fileURLWithPath(folder).absoluteString();
  for (const std::string& text :
       {std::string("relative.plist"), std::string("https://example.com/LaunchAgents/x.plist"),
        std::string("file:///"), std::string("file:///tmp/.."), folderURL}) {
    EXPECT_FALSE(operations(kIdentifier).removeBrokenStartupItem(*platform::URL::fromString(text)))
        << text;
  }
  EXPECT_TRUE(exists(folder));
  EXPECT_EQ(calls(), "");
}

} // namespace
} // namespace operations
