#include "StubTools.h"
#include "operations/LogsPrivilegedOperations.h"
#include "utilities/LRLaunchdManager.h"

#include <gtest/gtest.h>
#include <mutex>

namespace operations {
namespace {

using test::StubBehaviour;
using test::stubRuns;
using test::writeStubTool;
using Runs = std::vector<std::vector<std::string>>;

constexpr const char* kLaunchctlPath = "/bin/launchctl";

class LogsPrivilegedOperationsTest : public ::testing::Test {
protected:
  LogsPrivilegedOperationsTest()
      : operations([this](std::string_view line) {
          std::lock_guard lock(mutex);
          errorLines.emplace_back(line);
        }) {
    operations.setRootForTest(root.path());
    utilities::LaunchdEnvironment environment;
    environment.launchctlPath = root.path() + kLaunchctlPath;
    utilities::LRLaunchdManager::setEnvironmentForTest(environment);
    writeStubTool(root.path(), kLaunchctlPath);
  }
  ~LogsPrivilegedOperationsTest() override {
    utilities::LRLaunchdManager::resetEnvironmentForTest();
    platform::SystemVersion::setProviderForTest(nullptr);
  }

  static void runOn(platform::SystemVersion version) {
    platform::SystemVersion::setProviderForTest([version] { return version; });
  }
  // Log files, hidden ones and a folder inside the log folder.
  void fillLogFolder() {
    test::writeFile(root / "var/log/asl/2026.12.08.asl", "entries");
    test::writeFile(root / "var/log/asl/.hidden", "x");
    test::writeFile(root / "var/log/asl/Logs/aslmanager.log", "x");
  }
  bool logFolderIsEmpty() const {
    return test::exists(root / "var/log/asl") &&
           std::filesystem::is_empty(std::filesystem::path(root / "var/log/asl"));
  }

  test::TemporaryRoot root;
  std::mutex mutex;
  std::vector<std::string> errorLines;
  LogsPrivilegedOperations operations;
};

TEST_F(LogsPrivilegedOperationsTest, DiagnosticsEraseAnswersYesOnStandardInput) {
  writeStubTool(root.path(), LogsPrivilegedOperations::kLogToolPath,
                StubBehaviour().printing("Deleted selected logs\n").readingInput());
  EXPECT_TRUE(operations.removeDiagnosticsLogs());
  EXPECT_EQ(stubRuns(root.path(), "log"), (Runs{{"erase"}}));
  EXPECT_EQ(test::stubStandardInput(root.path(), "log"), "y");
}

TEST_F(LogsPrivilegedOperationsTest, DiagnosticsEraseFailsOnANonZeroStatusOrAMissingTool) {
  EXPECT_FALSE(operations.removeDiagnosticsLogs());
  writeStubTool(root.path(), LogsPrivilegedOperations::kLogToolPath,
                StubBehaviour().exitingWith(1));
  EXPECT_FALSE(operations.removeDiagnosticsLogs());
}

TEST_F(LogsPrivilegedOperationsTest, DefaultSystemTakesTheCurrentBranch) {
  EXPECT_TRUE(platform::SystemVersion::current().isAtLeast(
      LogsPrivilegedOperations::kCurrentLoggingVersion));
}

TEST_F(LogsPrivilegedOperationsTest, CurrentSystemEmptiesTheFolderWithoutTouchingServices) {
  runOn({12, 7, 0});
  fillLogFolder();
  EXPECT_TRUE(operations.removeASLLogs());
  EXPECT_TRUE(logFolderIsEmpty());
  EXPECT_TRUE(stubRuns(root.path(), "launchctl").empty());
  // An already empty folder is fine too.
  EXPECT_TRUE(operations.removeASLLogs());
  EXPECT_TRUE(errorLines.empty());
}

TEST_F(LogsPrivilegedOperationsTest, CurrentSystemWithoutTheFolderFailsAndLogs) {
  runOn({15, 1, 0});
  EXPECT_FALSE(operations.removeASLLogs());
  EXPECT_EQ(errorLines, std::vector<std::string>{"Failed to remove contents of /var/log/asl"});
}

TEST_F(LogsPrivilegedOperationsTest, OlderSystemStopsRemovesAndStartsInOrder) {
  runOn({12, 6, 9});
  fillLogFolder();
  EXPECT_TRUE(operations.removeASLLogs());
  EXPECT_TRUE(logFolderIsEmpty());
  EXPECT_EQ(stubRuns(root.path(), "launchctl"), (Runs{{"stop", "com.apple.syslogd"},
                                                      {"stop", "com.apple.aslmanager"},
                                                      {"start", "com.apple.syslogd"},
                                                      {"start", "com.apple.aslmanager"}}));
  EXPECT_TRUE(errorLines.empty());
}

TEST_F(LogsPrivilegedOperationsTest, OlderSystemStopsAtTheFirstFailingStep) {
  struct Case {
    std::string failingCall;
    size_t expectedRuns;
    std::string expectedLine;
    bool folderEmptied;
  };
  for (const Case& c :
       {Case{"stop com.apple.syslogd", 1, "Failed to stop com.apple.syslogd", false},
        Case{"stop com.apple.aslmanager", 2, "Failed to stop com.apple.aslmanager", false},
        Case{"start com.apple.syslogd", 3, "Failed to start com.apple.syslogd", true},
        Case{"start com.apple.aslmanager", 4, "Failed to start com.apple.aslmanager", true}}) {
    SCOPED_TRACE(c.failingCall);
    runOn({10, 15, 7});
    std::filesystem::remove_all(root / "log");
    errorLines.clear();
    fillLogFolder();
    writeStubTool(
        root.path(), kLaunchctlPath,
        StubBehaviour().runningFirst("[ \"$1 $2\" = '" + c.failingCall + "' ] && exit 1"));
    EXPECT_FALSE(operations.removeASLLogs());
    // Services stopped before the failure are not started again.
    EXPECT_EQ(stubRuns(root.path(), "launchctl").size(), c.expectedRuns);
    EXPECT_EQ(errorLines, std::vector<std::string>{c.expectedLine});
    EXPECT_EQ(logFolderIsEmpty(), c.folderEmptied);
  }
}

TEST_F(LogsPrivilegedOperationsTest, OlderSystemWithoutTheFolderLeavesTheServicesStopped) {
  runOn({11, 0, 0});
  EXPECT_FALSE(operations.removeASLLogs());
  EXPECT_EQ(stubRuns(root.path(), "launchctl"),
            (Runs{{"stop", "com.apple.syslogd"}, {"stop", "com.apple.aslmanager"}}));
  EXPECT_EQ(errorLines, std::vector<std::string>{"Failed to remove contents of /var/log/asl"});
}

} // namespace
} // namespace operations
