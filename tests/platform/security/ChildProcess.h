#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace platform::security::testing {

// A child process started without a shell, with a pipe on its standard input and its standard
// output captured. Killed and reaped on destruction.
class ChildProcess {
public:
  // Starts `arguments[0]` with `environment` (entries "NAME=value").
  ChildProcess(const std::vector<std::string>& arguments,
               const std::vector<std::string>& environment = {});
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t pid() const { return pid_; }
  int pidfd() const { return pidfd_; }
  // Writes one line to the child's standard input.
  void send(const std::string& line);
  // Waits for the child to end and returns its exit status (or -signal); reaps it.
  int wait();
  // Reads one line of standard output (without its newline).
  std::string readLine();
  // Waits until the test program has started and says "ready".
  void waitUntilReady();
  // Reads all standard output (until end of file).
  std::string output();

private:
  pid_t pid_ = -1;
  int pidfd_ = -1;
  int input_ = -1;
  int outputFd_ = -1;
  bool reaped_ = false;
};

// Runs a program to completion; returns the exit status and fills `output`.
int runProgram(const std::vector<std::string>& arguments, std::string* output = nullptr);

} // namespace platform::security::testing
