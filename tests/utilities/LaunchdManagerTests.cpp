#include "TestSupport.h"
#include "platform/foundation/PropertyList.h"
#include "utilities/LRLaunchdManager.h"

#include <gtest/gtest.h>
#include <mutex>
#include <set>
#include <sys/stat.h>

namespace utilities {
namespace {

using test::exists;
using test::readFile;
using test::TempDir;
using test::writeFile;

// Answers GetJob with a dictionary for the labels it knows, with a string for one odd label,
// and not at all otherwise.
class FakeLaunchd : public LaunchdMessageInterface {
public:
  std::set<std::string> loaded;
  std::vector<std::string> asked;

  std::optional<platform::PropertyList>
  sendMessage(const platform::PropertyList& request) override {
    std::lock_guard lock(mutex_);
    auto label = request.root()["GetJob"].stringValue().value_or("");
    asked.push_back(label);
    if (label == "odd.reply") {
      auto reply = platform::PropertyList::array();
      reply.appendString("not a job");
      return reply;
    }
    if (!loaded.count(label)) {
      return std::nullopt;
    }
    auto reply = platform::PropertyList::dictionary();
    reply.setString("Label", label);
    return reply;
  }

private:
  std::mutex mutex_;
};

class LaunchdManagerTest : public ::testing::Test {
protected:
  void SetUp() override {
    ::mkdir((dir_ / "helpers").c_str(), 0755);
    ::mkdir((dir_ / "jobs").c_str(), 0755);
    // The stub records its argv, prints what the test put in "stdout" and exits with "status".
    test::writeScript(dir_ / "launchctl", "printf '%s\\n' \"$*\" >> '" + dir_ / "calls" +
                                              "'\n"
                                              "[ -f '" +
                                              dir_ / "stdout" + "' ] && /bin/cat '" +
                                              dir_ / "stdout" +
                                              "'\n"
                                              "echo 'noise on the error stream' >&2\n"
                                              "exit $(/bin/cat '" +
                                              dir_ / "status" + "' 2>/dev/null || echo 0)");
    fake_ = std::make_shared<FakeLaunchd>();
    LaunchdEnvironment environment;
    environment.launchctlPath = dir_ / "launchctl";
    environment.privilegedHelperToolsPath = dir_ / "helpers";
    environment.messageInterface = fake_;
    LRLaunchdManager::setEnvironmentForTest(environment);
  }
  void TearDown() override { LRLaunchdManager::resetEnvironmentForTest(); }

  std::string jobFile(const std::string& fileName, const std::string& label,
                      const std::string& program = "/Applications/Tool.app/Contents/MacOS/Tool") {
    auto list = platform::PropertyList::dictionary();
    list.setString("Label", label);
    list.setString("Program", program);
    std::string path = dir_ / ("jobs/" + fileName);
    writeFile(path, list.toXML());
    return path;
  }
  std::string calls() const { return readFile(dir_ / "calls"); }

  TempDir dir_;
  std::shared_ptr<FakeLaunchd> fake_;
};

TEST_F(LaunchdManagerTest, ReadsLabelAndProgramAndAsksLaunchdByLabel) {
  auto path = jobFile("com.example.job.plist", "com.example.job");
  EXPECT_EQ(LRLaunchdManager::jobLabelForLaunchdAgent(path), "com.example.job");
  EXPECT_EQ(LRLaunchdManager::getAppPathOfLaunchDaemon(path),
            "/Applications/Tool.app/Contents/MacOS/Tool");
  EXPECT_EQ(LRLaunchdManager::jobLabelForLaunchdAgent(dir_ / "jobs/missing.plist"), std::nullopt);
  writeFile(dir_ / "jobs/garbage.plist", "not a property list");
  EXPECT_EQ(LRLaunchdManager::jobLabelForLaunchdAgent(dir_ / "jobs/garbage.plist"), std::nullopt);
  EXPECT_EQ(LRLaunchdManager::jobLabelForLaunchdAgent(dir_ / "jobs"), std::nullopt); // a folder
  auto array = platform::PropertyList::array();
  array.appendString("com.example.job");
  writeFile(dir_ / "jobs/array.plist", array.toXML());
  EXPECT_EQ(LRLaunchdManager::jobLabelForLaunchdAgent(dir_ / "jobs/array.plist"), std::nullopt);

  EXPECT_FALSE(LRLaunchdManager::isLoadedLaunchAgentWithConfigPath(path));
  fake_->loaded.insert("com.example.job");
  EXPECT_TRUE(LRLaunchdManager::isLoadedLaunchAgentWithConfigPath(path));
  EXPECT_FALSE(
      LRLaunchdManager::isLoadedLaunchAgentWithConfigPath(jobFile("odd.plist", "odd.reply")));
  EXPECT_EQ(fake_->asked,
            (std::vector<std::string>{"com.example.job", "com.example.job", "odd.reply"}));
  EXPECT_FALSE(LRLaunchdManager::isLoadedLaunchAgentWithConfigPath(""));
}

TEST_F(LaunchdManagerTest, DisablingAJobThatIsNotLoadedRunsNothing) {
  auto path = jobFile("com.example.job.plist", "com.example.job");
  EXPECT_TRUE(LRLaunchdManager::disableAgentAtPath(path));
  EXPECT_TRUE(LRLaunchdManager::unloadAgentAtPath(path));
  EXPECT_FALSE(exists(dir_ / "calls"));
}

TEST_F(LaunchdManagerTest, UnloadingALoadedJobDisablesAndStopsIt) {
  auto path = jobFile("file-name.plist", "com.example.job");
  fake_->loaded.insert("com.example.job");
  EXPECT_TRUE(LRLaunchdManager::disableAgentAtPath(path));
  EXPECT_EQ(calls(), "unload -w " + path + "\nstop com.example.job\n");
  writeFile(dir_ / "stdout", "Unload failed: 5: Input/output error\n");
  EXPECT_FALSE(LRLaunchdManager::unloadAgentAtPath(path));
}

TEST_F(LaunchdManagerTest, LoadStartAndStopFollowTheExitStatus) {
  auto path = jobFile("com.example.job.plist", "com.example.job");
  EXPECT_TRUE(LRLaunchdManager::loadLaunchAgentWithConfigPath(path));
  EXPECT_TRUE(LRLaunchdManager::startAgentWithLabel("com.example.job"));
  writeFile(dir_ / "status", "3");
  EXPECT_FALSE(LRLaunchdManager::stopAgentWithLabel("com.example.job"));
  EXPECT_FALSE(LRLaunchdManager::enableAgentAtPath(path));
  fake_->loaded.insert("com.example.job");
  EXPECT_TRUE(LRLaunchdManager::enableAgentAtPath(path)); // loaded already: no tool run
  EXPECT_EQ(calls(), "load -w " + path + "\nstart com.example.job\nstop com.example.job\nload -w " +
                         path + "\n");
  EXPECT_FALSE(LRLaunchdManager::startAgentWithLabel(""));
}

TEST_F(LaunchdManagerTest, MissingLaunchctlIsAFailure) {
  LaunchdEnvironment environment;
  environment.launchctlPath = dir_ / "no-such-tool";
  environment.messageInterface = fake_;
  LRLaunchdManager::setEnvironmentForTest(environment);
  EXPECT_FALSE(LRLaunchdManager::startAgentWithLabel("com.example.job"));
  EXPECT_FALSE(LRLaunchdManager::loadLaunchAgentWithConfigPath(jobFile("a.plist", "a")));
}

TEST_F(LaunchdManagerTest, RemovingAnAgentTakesItsHelperAndItsFile) {
  auto path = jobFile("com.example.helper.plist", "ignored-inside-the-file");
  writeFile(dir_ / "helpers/com.example.helper", "binary");
  writeFile(dir_ / "helpers/other", "binary");
  EXPECT_TRUE(LRLaunchdManager::removeAgentAtPath(path));
  EXPECT_EQ(calls(), "unload " + path + "\n");
  EXPECT_FALSE(exists(path));
  EXPECT_FALSE(exists(dir_ / "helpers/com.example.helper"));
  EXPECT_TRUE(exists(dir_ / "helpers/other"));
  // Nothing left to remove still counts as removed.
  EXPECT_TRUE(LRLaunchdManager::removeAgentAtPath(path));
  EXPECT_TRUE(LRLaunchdManager::removePrivilegedToolWithLabel("absent"));
}

TEST_F(LaunchdManagerTest, AnUnloadThatPrintsKeepsTheFiles) {
  auto path = jobFile("com.example.helper.plist", "com.example.helper");
  writeFile(dir_ / "helpers/com.example.helper", "binary");
  writeFile(dir_ / "stdout", "Could not find specified service\n");
  EXPECT_FALSE(LRLaunchdManager::removeAgentAtPath(path));
  EXPECT_TRUE(exists(path));
  EXPECT_TRUE(exists(dir_ / "helpers/com.example.helper"));
}

TEST_F(LaunchdManagerTest, ALabelThatIsNoFileNameNeverRemovesTheHelperFolder) {
  writeFile(dir_ / "helpers/com.example.helper", "binary");
  auto path = jobFile("..plist", "whatever"); // the derived label is "."
  EXPECT_TRUE(LRLaunchdManager::removeAgentAtPath(path));
  EXPECT_FALSE(exists(path));
  EXPECT_TRUE(exists(dir_ / "helpers/com.example.helper"));
  for (std::string label : {"", ".", "..", "../jobs", "a/b"}) {
    EXPECT_TRUE(LRLaunchdManager::removePrivilegedToolWithLabel(label));
  }
  EXPECT_TRUE(exists(dir_ / "helpers/com.example.helper"));
  EXPECT_TRUE(exists(dir_ / "jobs"));
}

TEST(LaunchdManager, AppPathFromAProgramText) {
  std::string executable = "unchanged";
  EXPECT_EQ(
      LRLaunchdManager::appPathFormObject("/Applications/A.app/Contents/MacOS/A", &executable),
      "/Applications/A.app");
  EXPECT_EQ(executable, "/Applications/A.app/Contents/MacOS/A");
  executable = "unchanged";
  EXPECT_EQ(LRLaunchdManager::appPathFormObject("/Applications/A.app", &executable),
            "/Applications/A.app");
  EXPECT_EQ(executable, "unchanged");
  EXPECT_EQ(LRLaunchdManager::appPathFormObject("/usr/local/bin/tool", &executable), std::nullopt);
  EXPECT_EQ(LRLaunchdManager::appPathFormObject(std::nullopt, nullptr), std::nullopt);
}

TEST(LaunchdManager, TheLinuxMessageInterfaceNeverAnswers) {
  NoLaunchdMessageInterface interface;
  auto request = platform::PropertyList::dictionary();
  request.setString("GetJob", "com.example.job");
  EXPECT_FALSE(interface.sendMessage(request).has_value());
}

} // namespace
} // namespace utilities
