#include "TestSupport.h"
#include "utilities/ChildProcess.h"
#include "utilities/LRTaskRunner.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>

namespace utilities {
namespace {

using test::TempDir;
using test::writeScript;

struct Outcome {
  std::optional<std::string> output;
  int32_t status = 12345;
  std::optional<std::string> errorOutput;
  std::optional<platform::NSError> error;
  int calls = 0;
};

Outcome launch(const LRTaskRunner& runner, const std::string& path,
               const std::vector<std::string>& arguments,
               const std::optional<std::string>& input = std::nullopt) {
  Outcome outcome;
  runner.launchTask(path, arguments, input,
                    [&](auto output, int32_t status, auto errorOutput, auto error) {
                      outcome.output = output;
                      outcome.status = status;
                      outcome.errorOutput = errorOutput;
                      outcome.error = error;
                      ++outcome.calls;
                    });
  return outcome;
}

TEST(TaskRunner, DrainsAFullErrorPipeBeforeStandardOutputCloses) {
  TempDir dir;
  writeScript(dir / "tool", "/usr/bin/head -c 1048576 /dev/zero | /usr/bin/tr '\\0' e >&2\n"
                            "/usr/bin/head -c 3000000 /dev/zero | /usr/bin/tr '\\0' o\nexit 3");
  auto outcome = launch(LRTaskRunner(), dir / "tool", {});
  EXPECT_EQ(outcome.calls, 1);
  EXPECT_EQ(outcome.status, 3);
  EXPECT_FALSE(outcome.error);
  ASSERT_TRUE(outcome.output && outcome.errorOutput);
  EXPECT_EQ(outcome.output->size(), 3000000u);
  EXPECT_EQ(outcome.errorOutput->size(), 1048576u);
}

TEST(TaskRunner, StatusEntryPointDrainsOutputItNeverReads) {
  TempDir dir;
  writeScript(dir / "flood", "/usr/bin/head -c 2000000 /dev/zero\n"
                             "/usr/bin/head -c 2000000 /dev/zero >&2\nexit 5");
  LRTaskRunner runner;
  EXPECT_EQ(runner.launchTaskAndGetTermStatusWithCmd(dir / "flood", {}, true), 5);
  auto errorText = runner.getOutput(dir / "flood", {}, false, true, nullptr);
  ASSERT_TRUE(errorText);
  EXPECT_EQ(errorText->size(), 2000000u);
}

TEST(TaskRunner, ChildStartsWithAnEmptyEnvironmentUnlessInheritanceIsOn) {
  ::setenv("UTILITIES_TEST_MARKER", "present", 1);
  LRTaskRunner runner;
  EXPECT_EQ(runner.launchTaskAndGetOutput("/usr/bin/env", {}, true), std::nullopt);
  runner.inheritEnvironmentOfCurrentProcess = true;
  auto inherited = runner.launchTaskAndGetOutput("/usr/bin/env", {}, true);
  ASSERT_TRUE(inherited);
  EXPECT_NE(inherited->find("UTILITIES_TEST_MARKER=present"), std::string::npos);
}

TEST(TaskRunner, AToolThatCannotBeExecutedIsNeverSuccess) {
  TempDir dir;
  test::writeFile(dir / "plain", "not executable");
  LRTaskRunner runner;
  for (const std::string& path :
       std::vector<std::string>{dir / "missing", dir / "plain", dir.path()}) {
    EXPECT_EQ(runner.launchTaskAndGetTermStatusWithCmd(path, {}), -1) << path;
    EXPECT_EQ(runner.launchTaskAndGetOutput(path, {}, true), std::nullopt);
    int32_t code = 77;
    EXPECT_EQ(runner.getOutput(path, {}, true, false, &code), std::nullopt);
    EXPECT_EQ(code, 77);
    auto outcome = launch(runner, path, {});
    EXPECT_EQ(outcome.calls, 1);
    EXPECT_EQ(outcome.status, -1);
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(outcome.error->domain(), "com.quillby.lumora.taskRunner");
    EXPECT_EQ(outcome.error->code(), 0);
  }
  // An executable file the kernel cannot run: started, but the start fails.
  writeScript(dir / "badformat", "");
  test::writeFile(dir / "badformat", "\x7f"
                                     "ELF garbage");
  EXPECT_EQ(runner.launchTaskAndGetTermStatusWithCmd(dir / "badformat", {}), -1);
  EXPECT_EQ(launch(runner, dir / "badformat", {}).status, -1);
}

TEST(TaskRunner, BlankOutputIsNoneAndPairsFollowSuppression) {
  TempDir dir;
  writeScript(dir / "blank", "printf '  \\n\\t\\r\\n'; printf ' \\n' >&2");
  writeScript(dir / "both", "printf 'to out\\n'; printf 'to err\\n' >&2");
  LRTaskRunner runner;
  auto outcome = launch(runner, dir / "blank", {});
  EXPECT_EQ(outcome.output, std::nullopt);
  EXPECT_EQ(outcome.errorOutput, std::nullopt);
  EXPECT_EQ(outcome.status, 0);
  // Not suppressed: the error output is what comes back; suppressed: the standard output.
  EXPECT_EQ(runner.launchTaskAndGetOutput(dir / "both", {}), "to err\n");
  EXPECT_EQ(runner.launchTaskAndGetOutput(dir / "both", {}, true), "to out\n");
  int32_t code = -7;
  EXPECT_EQ(runner.getOutput(dir / "both", {}, true, false, &code), "to out\n");
  EXPECT_EQ(code, 0);
}

TEST(TaskRunner, ArgumentsArePassedAsTheyAreWithoutAShell) {
  TempDir dir;
  writeScript(dir / "args", "for a in \"$@\"; do printf '[%s]\\n' \"$a\"; done");
  const std::string marker = dir / "injected";
  std::vector<std::string> arguments{
      "a b", "$(/usr/bin/touch " + marker + ")", ";", "*", "", "'\"", "line\nbreak", "\xff\xfe"};
  std::string expected;
  for (const auto& argument : arguments) {
    expected += "[" + argument + "]\n";
  }
  auto output = LRTaskRunner().launchTaskAndGetOutput(dir / "args", arguments, true);
  EXPECT_FALSE(test::exists(marker));
  ASSERT_TRUE(output);
  EXPECT_EQ(*output, std::string("[a b]\n[$(/usr/bin/touch ") + marker +
                         ")]\n[;]\n[*]\n[]\n['\"]\n[line\nbreak]\n[\xEF\xBF\xBD\xEF\xBF\xBD]\n");
  // A NUL inside an argument cannot be passed on: the start fails instead of cutting it.
  EXPECT_EQ(
      LRTaskRunner().launchTaskAndGetTermStatusWithCmd(dir / "args", {std::string("a\0b", 3)}), -1);
}

TEST(TaskRunner, StandardInputTextReachesTheTool) {
  TempDir dir;
  writeScript(dir / "cat", "/bin/cat");
  writeScript(dir / "ignore", "exit 0");
  LRTaskRunner runner;
  EXPECT_EQ(launch(runner, dir / "cat", {}, std::string("y")).output, "y");
  // An empty text still connects a pipe, which ends at once.
  auto empty = launch(runner, dir / "cat", {}, std::string());
  EXPECT_EQ(empty.status, 0);
  EXPECT_EQ(empty.output, std::nullopt);
  std::string big(3 * 1024 * 1024, 'i');
  EXPECT_EQ(launch(runner, dir / "cat", {}, big).output->size(), big.size());
  // A tool that never reads its input does not stall the runner (nor kill it by SIGPIPE).
  EXPECT_EQ(launch(runner, dir / "ignore", {}, big).status, 0);
}

TEST(TaskRunner, StatusOfAKilledToolIsItsSignal) {
  TempDir dir;
  writeScript(dir / "killed", "kill -9 $$");
  EXPECT_EQ(LRTaskRunner().launchTaskAndGetTermStatusWithCmd(dir / "killed", {}), 9);
}

TEST(TaskRunner, DescriptorsOfTheDaemonDoNotReachTheTool) {
  TempDir dir;
  writeScript(dir / "fds", "/bin/ls /proc/self/fd");
  int leaky = ::open("/dev/null", O_RDONLY); // deliberately without close-on-exec
  ASSERT_GE(leaky, 0);
  ASSERT_EQ(::dup2(leaky, 57), 57);
  auto output = LRTaskRunner().launchTaskAndGetOutput(dir / "fds", {}, true);
  ::close(57);
  ::close(leaky);
  ASSERT_TRUE(output);
  // 0, 1, 2 and the listing's own descriptor.
  EXPECT_EQ(output->find("57"), std::string::npos) << *output;
  EXPECT_LE(std::count(output->begin(), output->end(), '\n'), 4);
}

TEST(TaskRunner, CapturedOutputIsBounded) {
  TempDir dir;
  writeScript(dir / "huge", "/usr/bin/head -c 70000000 /dev/zero | /usr/bin/tr '\\0' x");
  auto output = LRTaskRunner().launchTaskAndGetOutput(dir / "huge", {}, true);
  ASSERT_TRUE(output);
  EXPECT_EQ(output->size(), kMaxCapturedBytes);
}

TEST(RunAndWait, ReturnsAtTheTimeOutAndToleratesALateCallback) {
  std::thread late;
  auto started = std::chrono::steady_clock::now();
  bool finished = false;
  runAndWait(1, [&](std::function<void()> completion) {
    late = std::thread([completion] {
      std::this_thread::sleep_for(std::chrono::milliseconds(1500));
      completion();
    });
  });
  auto waited = std::chrono::steady_clock::now() - started;
  EXPECT_GE(waited, std::chrono::milliseconds(900));
  EXPECT_LT(waited, std::chrono::milliseconds(1400));
  late.join();
  runAndWait(30, [&](std::function<void()> completion) {
    finished = true;
    completion();
  });
  EXPECT_TRUE(finished);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3));
}

} // namespace
} // namespace utilities
