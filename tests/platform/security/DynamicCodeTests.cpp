#include "ChildProcess.h"
#include "SecurityFixture.h"
#include "platform/security/ClientHardening.h"
#include "platform/security/DynamicCode.h"
#include "platform/security/PeerIdentity.h"
#include "platform/security/ProcessChecks.h"

#include <chrono>
#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <sys/ptrace.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace platform::security {
namespace {

using namespace testing;

const std::string& mainProgram() {
  // A name with blanks and parentheses, as /proc/PID/stat shows it in its command field.
  static const std::string path = signedProgram(SECURITY_TEST_PROGRAM, "dynamic) 1 (main",
                                                "com.quillby.Lumora5", world().teamLeaf);
  return path;
}

SecStatus checkRunning(pid_t pid, int pidfd, const std::string& requirementText) {
  std::shared_ptr<DynamicCode> code;
  if (SecStatus status = DynamicCode::create(pid, pidfd, code); !status) {
    return status;
  }
  Requirement requirement;
  EXPECT_TRUE(Requirement::compile(requirementText, requirement).ok());
  return code->checkValidity(testOptions(), &requirement);
}

// Waits until `condition` holds or two seconds pass.
template <typename Condition> bool eventually(Condition condition) {
  for (int attempt = 0; attempt < 200; ++attempt) {
    if (condition()) {
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

TEST(DynamicCodeTest, RunningSignedClientSatisfiesItsRequirement) {
  ChildProcess child({mainProgram()});
  child.waitUntilReady();
  std::shared_ptr<DynamicCode> code;
  ASSERT_TRUE(DynamicCode::create(child.pid(), child.pidfd(), code).ok());
  Requirement requirement;
  ASSERT_TRUE(Requirement::compile(kMainAppRequirement, requirement).ok());
  SigningInformation information;
  SecStatus status = code->checkValidity(testOptions(), &requirement, &information);
  EXPECT_TRUE(status.ok()) << status.description();
  EXPECT_EQ(information.identifier, "com.quillby.Lumora5");
  EXPECT_EQ(code->path(), mainProgram());
  EXPECT_EQ(checkRunning(child.pid(), child.pidfd(), kMenuRequirement).code(), errSecCSReqFailed);

  ChildProcess unsignedChild({copyProgram(SECURITY_TEST_PROGRAM, "dynamic-unsigned")});
  unsignedChild.waitUntilReady();
  EXPECT_EQ(checkRunning(unsignedChild.pid(), unsignedChild.pidfd(), kMainAppRequirement).code(),
            errSecCSUnsigned);
}

TEST(DynamicCodeTest, LoaderInjectionVariablesAreRefused) {
  for (const char* variable : {"LD_PRELOAD=/nonexistent/inject.so",
                               "LD_AUDIT=/nonexistent/audit.so", "LD_LIBRARY_PATH=/nonexistent"}) {
    ChildProcess child({mainProgram()}, {"HOME=/", variable});
    child.waitUntilReady();
    SecStatus status = checkRunning(child.pid(), child.pidfd(), kMainAppRequirement);
    EXPECT_EQ(status.code(), errSecCSGuestInvalid) << variable;
    EXPECT_NE(status.message().find("started with LD_"), std::string::npos) << status.message();
  }
}

TEST(DynamicCodeTest, InjectedProcessIsRefusedEvenWhileItsExecIsUnderWay) {
  // posix_spawn returns while the child's exec may still be setting up its environment; the
  // check must never see an empty environment and pass.
  for (int attempt = 0; attempt < 20; ++attempt) {
    ChildProcess child({mainProgram()}, {"LD_PRELOAD=/nonexistent/inject.so"});
    EXPECT_EQ(checkRunning(child.pid(), child.pidfd(), kMainAppRequirement).code(),
              errSecCSGuestInvalid);
  }
}

TEST(DynamicCodeTest, TracedProcessIsRefused) {
  pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::ptrace(PTRACE_TRACEME, 0, nullptr, nullptr);
    char* arguments[] = {const_cast<char*>(mainProgram().c_str()), nullptr};
    ::execv(arguments[0], arguments);
    ::_exit(127);
  }
  int waitStatus = 0;
  ASSERT_EQ(::waitpid(pid, &waitStatus, 0), pid); // stopped at the exec
  ASSERT_TRUE(WIFSTOPPED(waitStatus));
  UniqueFd pidfd = openPidfd(pid);
  SecStatus status = checkRunning(pid, pidfd.get(), kMainAppRequirement);
  EXPECT_EQ(status.code(), errSecCSGuestInvalid);
  EXPECT_NE(status.message().find("traced"), std::string::npos) << status.message();
  ::kill(pid, SIGKILL);
  ::waitpid(pid, &waitStatus, 0);
}

TEST(DynamicCodeTest, ProcessThatExitsIsNoSuchCode) {
  ChildProcess child({mainProgram()});
  child.waitUntilReady();
  std::shared_ptr<DynamicCode> code;
  ASSERT_TRUE(DynamicCode::create(child.pid(), child.pidfd(), code).ok());
  child.send("exit");
  siginfo_t info{};
  ASSERT_EQ(::waitid(P_PID, static_cast<id_t>(child.pid()), &info, WEXITED | WNOWAIT), 0);
  // Exited but not yet reaped, then reaped: gone either way.
  EXPECT_EQ(code->checkValidity(testOptions(), nullptr).code(), errSecCSNoSuchCode);
  child.wait();
  EXPECT_EQ(code->checkValidity(testOptions(), nullptr).code(), errSecCSNoSuchCode);
  EXPECT_EQ(DynamicCode::create(child.pid(), child.pidfd(), code).code(), errSecCSNoSuchCode);
}

TEST(DynamicCodeTest, PidfdOfAnotherProcessIsRefused) {
  ChildProcess first({mainProgram()});
  ChildProcess second({mainProgram()});
  first.waitUntilReady();
  second.waitUntilReady();
  std::shared_ptr<DynamicCode> code;
  EXPECT_EQ(DynamicCode::create(first.pid(), second.pidfd(), code).code(), errSecCSNoSuchCode);
  EXPECT_EQ(DynamicCode::create(first.pid(), -1, code).code(), errSecCSNoSuchCode);
}

TEST(PeerIdentityTest, StaysSameUntilTheProcessExecsIsTracedOrExits) {
  std::string other = signedProgram(SECURITY_TEST_PROGRAM, "peer-other", "com.quillby.Lumora5.Menu",
                                    world().teamLeaf);
  ChildProcess child({mainProgram()});
  child.waitUntilReady();
  PeerIdentity identity;
  ASSERT_TRUE(PeerIdentity::record(child.pid(), child.pidfd(), identity).ok());
  EXPECT_TRUE(identity.stillSame().ok());

  ASSERT_EQ(::ptrace(PTRACE_SEIZE, child.pid(), nullptr, nullptr), 0);
  // The tracer is looked for at most every kTracerCheckInterval.
  EXPECT_TRUE(eventually([&] { return identity.stillSame().code() == errSecCSGuestInvalid; }));
  // Detaching needs the tracee stopped.
  ASSERT_EQ(::ptrace(PTRACE_INTERRUPT, child.pid(), nullptr, nullptr), 0);
  int waitStatus = 0;
  ASSERT_EQ(::waitpid(child.pid(), &waitStatus, __WALL), child.pid());
  ASSERT_EQ(::ptrace(PTRACE_DETACH, child.pid(), nullptr, nullptr), 0);
  EXPECT_TRUE(eventually([&] { return identity.stillSame().ok(); }));

  // Starting the very same executable again is a new program too.
  child.send("exec " + mainProgram());
  child.waitUntilReady();
  EXPECT_EQ(identity.stillSame().code(), errSecCSGuestInvalid);
  PeerIdentity again;
  ASSERT_TRUE(PeerIdentity::record(child.pid(), child.pidfd(), again).ok());
  child.send("exec " + other);
  child.waitUntilReady();
  EXPECT_EQ(again.stillSame().code(), errSecCSGuestInvalid);
  child.send("exit");
  child.wait();
  EXPECT_EQ(identity.stillSame().code(), errSecCSNoSuchCode);
  PeerIdentity late;
  EXPECT_EQ(PeerIdentity::record(child.pid(), child.pidfd(), late).code(), errSecCSNoSuchCode);
}

TEST(ClientHardeningTest, MakesTheProcessNonDumpable) {
  pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    bool done = makeProcessNonDumpable(nullptr);
    ::_exit(done && ::prctl(PR_GET_DUMPABLE) == 0 ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

} // namespace
} // namespace platform::security
