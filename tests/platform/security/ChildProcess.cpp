#include "ChildProcess.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace platform::security::testing {

namespace {

std::vector<char*> pointers(std::vector<std::string>& strings) {
  std::vector<char*> out;
  for (std::string& text : strings) {
    out.push_back(text.data());
  }
  out.push_back(nullptr);
  return out;
}

} // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& arguments,
                           const std::vector<std::string>& environment) {
  int input[2];
  int output[2];
  if (::pipe2(input, O_CLOEXEC) != 0 || ::pipe2(output, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe");
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, input[0], 0);
  posix_spawn_file_actions_adddup2(&actions, output[1], 1);
  std::vector<std::string> argumentCopy = arguments;
  std::vector<std::string> environmentCopy = environment;
  auto argv = pointers(argumentCopy);
  auto envp = pointers(environmentCopy);
  int failed = ::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  ::close(input[0]);
  ::close(output[1]);
  input_ = input[1];
  outputFd_ = output[0];
  if (failed != 0) {
    throw std::runtime_error("posix_spawn");
  }
  pidfd_ = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
}

ChildProcess::~ChildProcess() {
  if (!reaped_ && pid_ > 0) {
    ::kill(pid_, SIGKILL);
    wait();
  }
  for (int fd : {pidfd_, input_, outputFd_}) {
    if (fd >= 0) {
      ::close(fd);
    }
  }
}

void ChildProcess::send(const std::string& line) {
  std::string text = line + "\n";
  if (::write(input_, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
    throw std::runtime_error("write to child");
  }
}

int ChildProcess::wait() {
  int status = 0;
  while (::waitpid(pid_, &status, 0) < 0) {
    if (errno != EINTR) {
      return -1;
    }
  }
  reaped_ = true;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

std::string ChildProcess::readLine() {
  std::string line;
  char c;
  while (::read(outputFd_, &c, 1) == 1 && c != '\n') {
    line.push_back(c);
  }
  return line;
}

void ChildProcess::waitUntilReady() {
  if (readLine() != "ready") {
    throw std::runtime_error("test program did not start");
  }
}

std::string ChildProcess::output() {
  std::string text;
  char buffer[4096];
  ssize_t got;
  while ((got = ::read(outputFd_, buffer, sizeof buffer)) > 0) {
    text.append(buffer, static_cast<size_t>(got));
  }
  return text;
}

int runProgram(const std::vector<std::string>& arguments, std::string* output) {
  ChildProcess child(arguments);
  std::string text = child.output();
  if (output != nullptr) {
    *output = text;
  }
  return child.wait();
}

} // namespace platform::security::testing
