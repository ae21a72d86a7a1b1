#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace agent {
namespace {

// Runs the agent executable built beside the tests, with its standard error captured.
struct AgentRun {
  int status = -1;
  std::string standardError;
};

AgentRun runAgent(const std::string& path) {
  AgentRun run;
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
    return run;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDERR_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
  char* envp[] = {nullptr};
  pid_t pid = 0;
  const int spawned = ::posix_spawn(&pid, path.c_str(), &actions, nullptr, argv, envp);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipeFds[1]);
  char buffer[4096];
  for (ssize_t count; (count = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;) {
    run.standardError.append(buffer, size_t(count));
  }
  ::close(pipeFds[0]);
  int status = 0;
  if (spawned == 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status)) {
    run.status = WEXITSTATUS(status);
  }
  return run;
}

std::vector<std::string> linesContaining(const std::string& text, const std::string& part) {
  std::vector<std::string> found;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (line.find(part) != std::string::npos) {
      found.push_back(line);
    }
  }
  return found;
}

bool exists(const std::string& path) {
  struct stat status {};
  return ::lstat(path.c_str(), &status) == 0;
}

// Outside the helper-tools directory the agent refuses to start: one fault line naming the
// misplacement, exit status 1, and the service socket is never made.
TEST(AgentStartup, OutsideTheHelperToolsDirectoryItFailsWithStatusOne) {
  const std::string socket = "/var/run/com.quillby.Lumora5.Agent";
  const bool socketExisted = exists(socket);
  AgentRun run = runAgent(AGENT_EXECUTABLE_PATH);
  EXPECT_EQ(run.status, 1) << run.standardError;
  EXPECT_EQ(linesContaining(run.standardError, "info: Staring agent...").size(), 1u);
  // One fault message of two lines, each with the fault priority.
  auto faults = linesContaining(run.standardError, "fault:");
  ASSERT_EQ(faults.size(), 2u) << run.standardError;
  EXPECT_EQ(faults[0], "<2>PrivilegedAgent[Agent] fault: Failed to launch agent:");
  EXPECT_EQ(faults[1], "<2>PrivilegedAgent[Agent] fault: A blessed helper tool must be located "
                       "in directory: /Library/PrivilegedHelperTools");
  EXPECT_TRUE(linesContaining(run.standardError, "Agent started").empty());
  if (!socketExisted) {
    EXPECT_FALSE(exists(socket));
  }
}

} // namespace
} // namespace agent
