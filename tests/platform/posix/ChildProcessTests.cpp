#include "TemporaryFolder.h"
#include "platform/posix/ChildProcess.h"

#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

namespace platform::posix {
namespace {

using namespace std::chrono_literals;

SpawnRequest shell(const std::string& script) {
  SpawnRequest request;
  request.path = "/bin/sh";
  request.arguments = {"-c", script};
  request.output = ChildStream::pipe;
  request.error = ChildStream::pipe;
  return request;
}

TEST(ChildProcess, CapturesBothStreamsAndTheExitStatus) {
  auto child = ChildProcess::spawn(shell("printf out; printf err >&2; exit 3"), nullptr);
  ASSERT_TRUE(child);
  ChildProcess::Capture output, error;
  EXPECT_EQ(child->pump({.output = &output, .error = &error}), ChildProcess::PumpOutcome::finished);
  EXPECT_EQ(output.bytes, "out");
  EXPECT_EQ(error.bytes, "err");
  EXPECT_EQ(child->reap(), 3);
  EXPECT_TRUE(child->reaped());
}

TEST(ChildProcess, FeedsTheInputAndKeepsOnlyTheLimit) {
  SpawnRequest request = shell("cat; head -c 100000 /dev/zero");
  request.input = ChildStream::pipe;
  auto child = ChildProcess::spawn(request, nullptr);
  ASSERT_TRUE(child);
  const std::string text(300000, 'i'); // more than a pipe holds
  ChildProcess::Capture output;
  child->pump({.input = text, .output = &output, .limit = 350000});
  EXPECT_EQ(output.bytes.size(), 350000u);
  EXPECT_TRUE(output.truncated);
  EXPECT_EQ(output.bytes.substr(0, text.size()), text);
  EXPECT_EQ(child->reap(), 0);
}

TEST(ChildProcess, AChildThatIgnoresItsInputDoesNotEndTheDaemon) {
  SpawnRequest request = shell("exec 0<&-; exit 0");
  request.input = ChildStream::pipe;
  auto child = ChildProcess::spawn(request, nullptr);
  ASSERT_TRUE(child);
  child->pump({.input = std::string(1 << 20, 'x')}); // EPIPE, not SIGPIPE
  EXPECT_EQ(child->reap(), 0);
}

TEST(ChildProcess, ReportsTheSignalOfAKilledChild) {
  auto child = ChildProcess::spawn(shell("kill -TERM $$"), nullptr);
  ASSERT_TRUE(child);
  child->pump({});
  EXPECT_EQ(child->reap(), SIGTERM);
}

TEST(ChildProcess, TimesOutAndIsTerminatedWithItsGroup) {
  SpawnRequest request = shell("sleep 30 & sleep 30");
  request.ownProcessGroup = true;
  auto child = ChildProcess::spawn(request, nullptr);
  ASSERT_TRUE(child);
  const auto started = ChildProcess::Clock::now();
  EXPECT_EQ(child->pump({.deadline = started + 200ms}), ChildProcess::PumpOutcome::timedOut);
  EXPECT_LT(ChildProcess::Clock::now() - started, 5s);
  child->terminate(100ms);
  EXPECT_TRUE(child->reaped());
  EXPECT_EQ(child->reap(), SIGTERM);
  EXPECT_FALSE(child->signal(0)); // never signalled again once reaped
}

TEST(ChildProcess, TheCallerCancels) {
  auto child = ChildProcess::spawn(shell("sleep 30"), nullptr);
  ASSERT_TRUE(child);
  int asked = 0;
  EXPECT_EQ(child->pump({.isCancelled = [&] { return ++asked == 2; }, .cancelInterval = 10ms}),
            ChildProcess::PumpOutcome::cancelled);
  EXPECT_FALSE(child->hasExited());
} // the destructor kills and reaps it

TEST(ChildProcess, EnvironmentDirectoryAndNullStreams) {
  testing::TemporaryFolder folder;
  SpawnRequest request = shell("printf '%s:' \"$ONLY\" \"$HOME\"; pwd; read line || echo eof");
  request.environment = std::vector<std::string>{"ONLY=1"};
  request.workingDirectory = folder.path();
  request.input = ChildStream::null;
  auto child = ChildProcess::spawn(request, nullptr);
  ASSERT_TRUE(child);
  ChildProcess::Capture output;
  child->pump({.output = &output});
  EXPECT_EQ(output.bytes, "1::" + folder.path() + "\neof\n");
  EXPECT_EQ(child->reap(), 0);
}

TEST(ChildProcess, OnlyTheStandardStreamsReachTheChild) {
  const int leaked = ::open("/dev/null", O_RDONLY); // without close-on-exec
  SpawnRequest request = shell("ls /proc/self/fd");
  request.input = ChildStream::null;
  auto child = ChildProcess::spawn(request, nullptr);
  ::close(leaked);
  ASSERT_TRUE(child);
  ChildProcess::Capture output;
  child->pump({.output = &output});
  // 0, 1, 2 and the descriptor ls opens to list the folder.
  EXPECT_EQ(output.bytes, "0\n1\n2\n3\n");
}

TEST(ChildProcess, WaitsForExitWithoutReaping) {
  auto child = ChildProcess::spawn(shell("exit 4"), nullptr);
  ASSERT_TRUE(child);
  child->output().reset();
  child->errorOutput().reset();
  EXPECT_TRUE(child->waitForExit(5s));
  EXPECT_FALSE(child->reaped());
  EXPECT_TRUE(child->signal(0)); // the zombie still holds its pid
  EXPECT_EQ(child->reap(), 4);
}

TEST(ChildProcess, SpawnFailuresSayWhichStep) {
  SpawnFailure failure;
  EXPECT_FALSE(ChildProcess::spawn({.path = "/nonexistent/tool"}, &failure));
  EXPECT_EQ(failure.stage, SpawnFailure::Stage::spawn);
  EXPECT_EQ(failure.error, ENOENT);
  EXPECT_FALSE(
      ChildProcess::spawn({.path = "/bin/true", .arguments = {std::string("a\0b", 3)}}, &failure));
  EXPECT_EQ(failure.stage, SpawnFailure::Stage::argument);
  EXPECT_FALSE(ChildProcess::spawn({.path = std::string("/bin/t\0", 7)}, &failure));
  EXPECT_EQ(failure.stage, SpawnFailure::Stage::path);
}

} // namespace
} // namespace platform::posix
