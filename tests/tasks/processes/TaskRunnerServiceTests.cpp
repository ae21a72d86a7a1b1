#include "tasks/processes/KLVCommandToolError.h"
#include "tasks/processes/KLVFreezeDetector.h"
#include "tasks/processes/KLVTaskRunnerService.h"
#include "tasks/processes/KLVToolProcess.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <thread>
#include <unistd.h>

using namespace tasks;
using Clock = std::chrono::steady_clock;

namespace {

KLVTaskRunnerInput shell(const std::string& script, double timeout = 10) {
  KLVTaskRunnerInput input("/bin/sh");
  input.arguments = {"-c", script};
  input.setTimeoutInterval(timeout);
  return input;
}

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

bool processExists(pid_t pid) {
  return ::kill(pid, 0) == 0 || errno != ESRCH;
}

// Whether a process of the group is still alive. A killed member may stay a zombie until its
// new parent reaps it, so zombies do not count.
bool groupHasLiveMembers(pid_t group) {
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    std::ifstream stat(entry.path() / "stat");
    std::string line;
    if (!std::getline(stat, line) || line.rfind(')') == std::string::npos) {
      continue;
    }
    std::istringstream fields(line.substr(line.rfind(')') + 1));
    char state = 0;
    pid_t parent = 0, processGroup = 0;
    fields >> state >> parent >> processGroup;
    if (processGroup == group && state != 'Z' && state != 'X') {
      return true;
    }
  }
  return false;
}

bool groupOutlives(pid_t group, std::chrono::milliseconds patience) {
  const auto start = Clock::now();
  while (groupHasLiveMembers(group)) {
    if (Clock::now() - start > patience) {
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

class CancelAfter : public KLVExecutionControl {
public:
  explicit CancelAfter(std::chrono::milliseconds delay) : until_(Clock::now() + delay) {}
  bool isCancelled() const override { return Clock::now() >= until_; }

private:
  Clock::time_point until_;
};

} // namespace

TEST(TaskRunnerService, ANonZeroExitIsAnOutputNotAnError) {
  platform::NSError error;
  auto output = KLVTaskRunnerService().executeTaskWithInput(
      shell("printf 'out'; printf 'err' >&2; exit 1"), &error);
  ASSERT_TRUE(output) << error.description();
  EXPECT_EQ(output->status(), 1);
  EXPECT_FALSE(output->isExitStatusSuccess());
  EXPECT_EQ(output->valueText(), "out");
  EXPECT_EQ(output->errorText(), "err");
  EXPECT_TRUE(error.domain().empty());
}

TEST(TaskRunnerService, TextIsNoneForInvalidUTF8AndForStreamsNotCollected) {
  auto input = shell("printf 'ok\\377'; printf 'e' >&2");
  input.shouldReadOutputError = false;
  auto output = KLVTaskRunnerService().executeTaskWithInput(input, nullptr);
  ASSERT_TRUE(output);
  EXPECT_EQ(output->valueOutput(), std::string("ok\xff"));
  EXPECT_EQ(output->valueText(), std::nullopt);
  EXPECT_EQ(output->errorOutput(), std::nullopt);
  EXPECT_EQ(output->errorText(), std::nullopt);
}

TEST(TaskRunnerService, AnErrorCarriesAFloodingToolsTextCappedOnCharacterBoundaries) {
  // "é" is two bytes: the halves fall inside characters and must move to their edges.
  std::string flood = "start";
  while (flood.size() < 1'000'000) {
    flood += "é";
  }
  flood += "end";
  const KLVTaskRunnerOutput output(1, flood, "short");
  const auto error = commandToolError("Domain", 7, output, std::nullopt);
  const auto text = std::get<std::string>(error.userInfo().at(kKLVCommandToolValueTextKey));
  EXPECT_LE(text.size(), kMaxToolTextInError + 64);
  EXPECT_EQ(0u, text.find("start"));
  EXPECT_EQ(text.size() - 3, text.rfind("end"));
  EXPECT_NE(std::string::npos, text.find(" bytes left out]"));
  EXPECT_TRUE(KLVTaskRunnerOutput(0, text, std::nullopt).valueText()); // still valid UTF-8
  EXPECT_EQ("short", std::get<std::string>(error.userInfo().at(kKLVCommandToolErrorTextKey)));
}

TEST(TaskRunnerService, ATimedOutToolAndEverythingItStartedAreKilledAndReaped) {
  // The trap makes the shell ignore SIGTERM, so only SIGKILL after the grace period ends it.
  auto input = shell("trap '' TERM; sleep 30 & sleep 30; wait", 0.3);
  pid_t pid = -1;
  input.launchBlock = [&pid](pid_t launched) { pid = launched; };
  platform::NSError error;
  const auto start = Clock::now();
  auto output = KLVTaskRunnerService().executeTaskWithInput(input, &error);
  const double elapsed = secondsSince(start);
  EXPECT_FALSE(output);
  EXPECT_EQ(error.domain(), kKLVTaskRunnerServiceErrorDomain);
  EXPECT_EQ(error.code(), kKLVTaskRunnerServiceTimedOut);
  EXPECT_TRUE(error.userInfo().empty());
  EXPECT_GE(elapsed, 0.3);
  EXPECT_LT(elapsed, 2.0) << "the time-out and the grace period, with room for a busy machine";
  ASSERT_GT(pid, 0);
  EXPECT_FALSE(processExists(pid)) << "no zombie is left";
  EXPECT_FALSE(groupOutlives(pid, std::chrono::seconds(2))) << "the tool's children are gone too";
}

TEST(TaskRunnerService, AnIntervalOfZeroExpiresAtOnceWithoutStartingTheTool) {
  const auto marker =
      std::filesystem::temp_directory_path() / ("klv-runner-zero-" + std::to_string(::getpid()));
  std::filesystem::remove(marker);
  platform::NSError error;
  const auto start = Clock::now();
  auto output = KLVTaskRunnerService().executeTaskWithExecutablePath("/usr/bin/touch",
                                                                     {marker.string()}, 0, &error);
  EXPECT_FALSE(output);
  EXPECT_EQ(error.code(), kKLVTaskRunnerServiceTimedOut);
  EXPECT_LT(secondsSince(start), 0.1);
  EXPECT_FALSE(std::filesystem::exists(marker));

  // A limit that is given applies; without one the tool runs to its end.
  EXPECT_TRUE(KLVTaskRunnerService().executeTaskWithExecutablePath("/bin/true", {}, 5, nullptr));
  KLVTaskRunnerInput unlimited("/bin/true");
  EXPECT_TRUE(unlimited.shouldRunTaskUntilFinish);
  EXPECT_TRUE(KLVTaskRunnerService().executeTaskWithInput(unlimited, nullptr));
}

TEST(TaskRunnerService, ALaunchFailureIsCode101WithItsCause) {
  for (const char* path : {"/nonexistent/tool", "relative/tool", "/etc/hostname"}) {
    platform::NSError error;
    EXPECT_FALSE(KLVTaskRunnerService().executeTaskWithInput(KLVTaskRunnerInput(path), &error));
    EXPECT_EQ(error.domain(), kKLVTaskRunnerServiceErrorDomain) << path;
    EXPECT_EQ(error.code(), kKLVTaskRunnerServiceLaunchFailed) << path;
    ASSERT_NE(error.underlyingError(), nullptr) << path;
    EXPECT_EQ(error.underlyingError()->domain(), platform::NSPOSIXErrorDomain);
  }
  platform::NSError error;
  auto input = shell("true");
  input.arguments.push_back(std::string("a\0b", 3));
  EXPECT_FALSE(KLVTaskRunnerService().executeTaskWithInput(input, &error));
  EXPECT_EQ(error.code(), kKLVTaskRunnerServiceLaunchFailed);
  EXPECT_EQ(error.underlyingError()->code(), EINVAL);
}

TEST(TaskRunnerService, AToolThatFloodsStandardErrorFirstDoesNotStall) {
  auto output = KLVTaskRunnerService().executeTaskWithInput(
      shell("head -c 3000000 /dev/zero >&2; echo done", 20), nullptr);
  ASSERT_TRUE(output);
  EXPECT_EQ(output->errorOutput()->size(), 3000000u);
  EXPECT_EQ(output->valueText(), "done\n");
}

TEST(TaskRunnerService, CollectedOutputStopsAtItsCapWhileTheToolRunsOn) {
  const size_t beyond = kKLVMaxCollectedOutputBytes + 1000;
  auto output = KLVTaskRunnerService().executeTaskWithInput(
      shell("head -c " + std::to_string(beyond) + " /dev/zero; echo fine >&2", 30), nullptr);
  ASSERT_TRUE(output);
  EXPECT_EQ(output->valueOutput()->size(), kKLVMaxCollectedOutputBytes);
  EXPECT_EQ(output->errorText(), "fine\n");
}

TEST(TaskRunnerService, EnvironmentAndWorkingDirectoryAreGivenOrInherited) {
  ::setenv("KLV_RUNNER_TEST_MARKER", "inherited", 1);
  auto inherited = KLVTaskRunnerService().executeTaskWithInput(
      shell("printf '%s' \"$KLV_RUNNER_TEST_MARKER\""), nullptr);
  ASSERT_TRUE(inherited);
  EXPECT_EQ(inherited->valueText(), "inherited");

  auto input = shell("printf '%s|%s|' \"$KLV_RUNNER_TEST_MARKER\" \"$ONLY\"; pwd");
  input.environment = std::map<std::string, std::string>{{"ONLY", "given"}};
  input.currentDirectoryPath = "/usr";
  auto given = KLVTaskRunnerService().executeTaskWithInput(input, nullptr);
  ASSERT_TRUE(given);
  EXPECT_EQ(given->valueText(), "|given|/usr\n");

  platform::NSError error;
  input.currentDirectoryPath = "/nonexistent-directory";
  EXPECT_FALSE(KLVTaskRunnerService().executeTaskWithInput(input, &error));
  EXPECT_EQ(error.code(), kKLVTaskRunnerServiceLaunchFailed);
}

TEST(TaskRunnerService, AFinishedToolWhoseChildHoldsThePipeEndsAtTheDeadline) {
  auto input = shell("sleep 30 & echo started", 0.5);
  pid_t pid = -1;
  input.launchBlock = [&pid](pid_t launched) { pid = launched; };
  const auto start = Clock::now();
  auto output = KLVTaskRunnerService().executeTaskWithInput(input, nullptr);
  EXPECT_LT(secondsSince(start), 2);
  ASSERT_TRUE(output);
  EXPECT_EQ(output->status(), 0);
  EXPECT_EQ(output->valueText(), "started\n");
  EXPECT_FALSE(groupOutlives(pid, std::chrono::seconds(2)));
}

TEST(TaskRunnerService, ACancelledRunStopsTheTool) {
  auto input = shell("sleep 30");
  input.executionControl = std::make_shared<CancelAfter>(std::chrono::milliseconds(200));
  platform::NSError error;
  const auto start = Clock::now();
  EXPECT_FALSE(KLVTaskRunnerService().executeTaskWithInput(input, &error));
  EXPECT_LT(secondsSince(start), 2);
  EXPECT_EQ(error.domain(), platform::NSCocoaErrorDomain);
  EXPECT_EQ(error.code(), 3072);
}

TEST(FreezeDetector, PostsItsUserInfoUnlessCancelledInTime) {
  std::atomic<int> posts{0};
  std::string label;
  auto observer = KLVFreezeDetector::subscribeToFreezeDetectedNotificationWithObserver(
      [&](const platform::Notification& notification) {
        label = std::get<std::string>(notification.userInfo.at(kKLVFreezeLabelKey));
        ++posts;
      });
  auto cancelled = KLVFreezeDetector::detectFreezeWithTimeout(0.05, [] {
    return platform::UserInfo{{kKLVFreezeLabelKey, std::string("cancelled")}};
  });
  KLVFreezeDetector::cancel(cancelled);
  KLVFreezeDetector::detectFreezeWithTimeout(0.1, [] {
    return platform::UserInfo{{kKLVFreezeLabelKey, std::string("frozen")}};
  });
  const auto start = Clock::now();
  while (posts == 0 && secondsSince(start) < 5) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  KLVFreezeDetector::unsubscribeFromFreezeDetectedNotificationWithObserver(observer);
  EXPECT_EQ(posts, 1);
  EXPECT_EQ(label, "frozen");
}
