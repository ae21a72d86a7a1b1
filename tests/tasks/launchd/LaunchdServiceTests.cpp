#include "tasks/launchd/KLVLaunchdService.h"
#include "tasks/model/KLVPrivilegedAccessLaunchAgentRemoverTask.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace tasks;
namespace fs = std::filesystem;

namespace {

// Stands in for launchctl: records each run and answers with a fixed outcome.
class FakeRunner : public KLVTaskRunnerService {
public:
  std::vector<KLVTaskRunnerInput> runs;
  int status = 0;
  std::string errorText;
  std::optional<platform::NSError> failure;

  std::optional<KLVTaskRunnerOutput> executeTaskWithInput(const KLVTaskRunnerInput& input,
                                                          platform::NSError* error) override {
    runs.push_back(input);
    if (failure) {
      platform::setError(error, *failure);
      return std::nullopt;
    }
    return KLVTaskRunnerOutput(status, std::string(), errorText);
  }
};

class LaunchdServiceTest : public ::testing::Test {
protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() /
            ("klv-launchd-" + std::to_string(::getpid()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    fs::create_directories(root_ / "helpers");
    fs::create_directories(root_ / "agents");
  }
  void TearDown() override { fs::remove_all(root_); }

  KLVLaunchdService service(double timeout = 60) {
    KLVLaunchdService made(utilities::FileManager::defaultManager(), KLVFileRemoverService(),
                           runner_, timeout);
    made.setPrivilegedHelperToolsDirectoryForTest((root_ / "helpers").string());
    return made;
  }
  std::string make(const fs::path& relative, const std::string& contents = "x") {
    std::ofstream(root_ / relative) << contents;
    return (root_ / relative).string();
  }
  bool exists(const fs::path& relative) const { return fs::exists(root_ / relative); }

  fs::path root_;
  std::shared_ptr<FakeRunner> runner_ = std::make_shared<FakeRunner>();
};

} // namespace

TEST_F(LaunchdServiceTest, UnloadsWithHalfASecondAndRemovesTheHelperNamedAfterTheFile) {
  // The label inside the list is not what names the helper: the file name is.
  const std::string plist = make("agents/com.example.job.plist", "<key>Label</key><string>other");
  make("helpers/com.example.job");
  make("helpers/other");
  platform::NSError error;
  EXPECT_TRUE(service(60).removeAgentAtPath(plist, &error)) << error.description();

  ASSERT_EQ(runner_->runs.size(), 1u);
  const KLVTaskRunnerInput& run = runner_->runs[0];
  EXPECT_EQ(run.executablePath, "/bin/launchctl");
  EXPECT_EQ(run.arguments, (std::vector<std::string>{"unload", plist}));
  EXPECT_EQ(run.timeoutInterval(), 0.5);
  EXPECT_FALSE(run.shouldRunTaskUntilFinish);

  EXPECT_FALSE(exists("agents/com.example.job.plist"));
  EXPECT_FALSE(exists("helpers/com.example.job"));
  EXPECT_TRUE(exists("helpers/other"));
  EXPECT_TRUE(exists("agents")) << "the emptied folder of the list stays";
}

TEST_F(LaunchdServiceTest, AMissingHelperIsFineAndTheListIsStillRemoved) {
  const std::string plist = make("agents/com.example.nohelper.plist");
  EXPECT_TRUE(service().removeAgentAtPath(plist, nullptr));
  EXPECT_FALSE(exists("agents/com.example.nohelper.plist"));
}

TEST_F(LaunchdServiceTest, AFailedUnloadKeepsEverythingAndLogsTheToolsErrorText) {
  const std::string plist = make("agents/com.example.job.plist");
  make("helpers/com.example.job");
  runner_->status = 5;
  runner_->errorText = "Could not find specified service";
  platform::NSError error;
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(service().removeAgentAtPath(plist, &error));
  const std::string logged = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(logged.find("Unloading error: Could not find specified service"), std::string::npos)
      << logged;
  EXPECT_TRUE(error.domain().empty()) << "a non-zero exit carries no error";
  EXPECT_TRUE(exists("agents/com.example.job.plist"));
  EXPECT_TRUE(exists("helpers/com.example.job"));

  // A runner failure (here its time-out) is passed on as it is.
  runner_->failure = platform::NSError(kKLVTaskRunnerServiceErrorDomain, 102);
  EXPECT_FALSE(service().removeAgentAtPath(plist, &error));
  EXPECT_EQ(error.code(), 102);
  EXPECT_TRUE(exists("agents/com.example.job.plist"));
}

TEST_F(LaunchdServiceTest, LabelsThatNameNoSingleFileRemoveNoHelper) {
  make("helpers/keep");
  make("outside");
  // "...plist" gives the label "..", which would name the parent of the helper folder.
  const std::string dots = make("agents/...plist");
  EXPECT_TRUE(service().removeAgentAtPath(dots, nullptr));
  EXPECT_FALSE(exists("agents/...plist"));
  EXPECT_TRUE(exists("helpers/keep"));
  EXPECT_TRUE(exists("outside"));

  for (const char* label : {"", ".", "..", "../outside", "a/b"}) {
    EXPECT_TRUE(service().removePrivilegedToolWithLabel(label, nullptr)) << label;
  }
  EXPECT_TRUE(exists("helpers/keep"));
  EXPECT_TRUE(exists("outside"));
}

TEST_F(LaunchdServiceTest, AnEmptyOrRelativePathRunsNothing) {
  platform::NSError error;
  EXPECT_FALSE(service().removeAgentAtPath("", &error));
  EXPECT_FALSE(service().removeAgentAtPath("-w", &error));
  EXPECT_TRUE(runner_->runs.empty());
  EXPECT_TRUE(error.domain().empty());
}

TEST_F(LaunchdServiceTest, TheTaskReportsALaunchctlThatCannotRunAndKeepsTheList) {
  if (fs::exists("/bin/launchctl")) {
    GTEST_SKIP() << "this host has a launchctl";
  }
  const std::string plist = make("agents/com.example.job.plist");
  auto result = KLVPrivilegedAccessLaunchAgentRemoverTask(platform::URL::fileURLWithPath(plist), 30)
                    .perform();
  EXPECT_EQ(result->type(), KLVResultObject::mixed);
  EXPECT_FALSE(result->isSuccess());
  EXPECT_EQ(result->error()->domain(), kKLVTaskRunnerServiceErrorDomain);
  EXPECT_EQ(result->error()->code(), kKLVTaskRunnerServiceLaunchFailed);
  EXPECT_TRUE(exists("agents/com.example.job.plist"));
}
