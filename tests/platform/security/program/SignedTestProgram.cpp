// A tiny program that the security tests sign and run. With "hello" it prints a line and
// exits; otherwise it prints "ready" and follows commands read from standard input, one per
// line:
//   exit         ends with status 0
//   exec PATH    replaces itself with PATH, run with the argument "wait"
// and ends at end of input.
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "hello") == 0) {
    std::puts("hello from the signed program");
    return 0;
  }
  std::puts("ready");
  std::fflush(stdout);
  char line[4096];
  while (std::fgets(line, sizeof line, stdin) != nullptr) {
    std::string command(line);
    if (!command.empty() && command.back() == '\n') {
      command.pop_back();
    }
    if (command == "exit") {
      return 0;
    }
    if (command.rfind("exec ", 0) == 0) {
      std::string path = command.substr(5);
      char* arguments[] = {path.data(), const_cast<char*>("wait"), nullptr};
      ::execv(path.c_str(), arguments);
      return 127;
    }
  }
  return 0;
}
