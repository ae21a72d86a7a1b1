#include "tasks/model/KLVPrivilegedAccessProcessTerminatorTask.h"
#include "tasks/processes/ProcessTaskExecutors.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace tasks;

namespace {

struct SentSignal {
  pid_t target;
  int signal;
};

// Signalling that records what would be sent instead of sending it.
ProcessSignalling recording(std::vector<SentSignal>& sent, pid_t group, pid_t ownGroup = 500) {
  ProcessSignalling signalling;
  signalling.processGroupOf = [group](pid_t) { return group; };
  signalling.ownProcessGroup = [ownGroup] { return ownGroup; };
  signalling.sendSignal = [&sent](pid_t target, int signal) {
    sent.push_back({target, signal});
    return 0;
  };
  return signalling;
}

const platform::NSError* underlying(const ResultPtr& result) {
  return result->error() ? result->error()->underlyingError() : nullptr;
}

} // namespace

TEST(ProcessTermination, KillsTheWholeGroupOfTheProcess) {
  std::vector<SentSignal> sent;
  KLVPrivilegedAccessProcessTerminatorTask task(1234);
  auto result = performWithSignalling(task, recording(sent, 1200));
  EXPECT_TRUE(result->isSuccess());
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].target, -1200);
  EXPECT_EQ(sent[0].signal, SIGKILL);
}

TEST(ProcessTermination, RefusesGroupsWhoseSignalWouldReachEveryProcessOrTheAgent) {
  for (pid_t group : {pid_t(0), pid_t(1), pid_t(500)}) {
    std::vector<SentSignal> sent;
    KLVPrivilegedAccessProcessTerminatorTask task(77);
    auto result = performWithSignalling(task, recording(sent, group, 500));
    EXPECT_TRUE(sent.empty()) << "group " << group;
    EXPECT_EQ(result->type(), KLVResultObject::mixed);
    EXPECT_FALSE(result->isSuccess());
    EXPECT_EQ(result->error()->domain(), "ProcessManagementServiceErrorDomain");
    EXPECT_EQ(result->error()->code(), 7);
    ASSERT_NE(underlying(result), nullptr);
    EXPECT_EQ(underlying(result)->domain(), platform::NSPOSIXErrorDomain);
    EXPECT_EQ(underlying(result)->code(), EPERM);
  }
}

TEST(ProcessTermination, AMissingProcessFailsWithNoSuchProcess) {
  // Beyond the kernel's largest process identifier, so it names no process; nothing is sent
  // because the group lookup fails first.
  KLVPrivilegedAccessProcessTerminatorTask task(0x7ffffff0);
  auto result = task.perform();
  EXPECT_EQ(result->type(), KLVResultObject::mixed);
  EXPECT_EQ(result->error()->code(), 7);
  ASSERT_NE(underlying(result), nullptr);
  EXPECT_EQ(underlying(result)->code(), ESRCH);
  EXPECT_EQ(std::get<int64_t>(result->error()->userInfo().at(kKLVEmbeddedProcessIdentifierKey)),
            0x7ffffff0);
  EXPECT_EQ(errno, 0);
}

// Sends real signals, so it runs only inside a private process-identifier namespace (see the
// tasks_tests_pid_namespace test), where a missing guard could not reach the host's processes.
TEST(ProcessTermination, RealGroupDiesAndInitIsRefusedInsideAPrivateNamespace) {
  if (std::getenv("TASKS_TEST_IN_PID_NAMESPACE") == nullptr) {
    GTEST_SKIP() << "sends real signals; run inside unshare --pid --fork --mount-proc";
  }
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t leader = ::fork();
  if (leader == 0) {
    ::setpgid(0, 0);
    if (::fork() == 0) {
      ::pause();
      ::_exit(0);
    }
    (void)::write(ready[1], "x", 1);
    ::pause();
    ::_exit(0);
  }
  char byte;
  ASSERT_EQ(::read(ready[0], &byte, 1), 1);
  ::close(ready[0]);
  ::close(ready[1]);

  EXPECT_TRUE(KLVPrivilegedAccessProcessTerminatorTask(leader).perform()->isSuccess());
  int status = 0;
  ASSERT_EQ(::waitpid(leader, &status, 0), leader);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
  // The member of the group was reparented to this process (init of the namespace) and died too.
  bool groupGone = false;
  for (int attempt = 0; attempt < 200 && !groupGone; ++attempt) {
    while (::waitpid(-1, &status, WNOHANG) > 0) {
    }
    groupGone = ::kill(-leader, 0) == -1 && errno == ESRCH;
    ::usleep(10'000);
  }
  EXPECT_TRUE(groupGone);

  // Init of the namespace (this process) is refused before any signal.
  auto refused = KLVPrivilegedAccessProcessTerminatorTask(1).perform();
  EXPECT_FALSE(refused->isSuccess());
  EXPECT_EQ(refused->error()->code(), 7);
}
