// A tiny program that the security tests sign and run. With "hello" it prints a line and
// exits; otherwise it prints "ready" and follows commands read from standard input, one per
// line:
//   exit         ends with status 0
//   exec PATH    replaces itself with PATH, run with the argument "wait"
//   map-anonymous, map-memfd
//                maps a page of executable memory that no file, or a memory file, backs, and
//                prints "mapped"
// and ends at end of input.
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace {

// Maps one executable page; `fd` -1 for anonymous memory.
void mapExecutablePage(int fd) {
  const long page = ::sysconf(_SC_PAGESIZE);
  if (fd >= 0 && ::ftruncate(fd, page) != 0) {
    std::puts("failed");
    return;
  }
  const int flags = fd >= 0 ? MAP_SHARED : MAP_PRIVATE | MAP_ANONYMOUS;
  void* page_ = ::mmap(nullptr, static_cast<size_t>(page), PROT_READ | PROT_EXEC, flags, fd, 0);
  std::puts(page_ == MAP_FAILED ? "failed" : "mapped");
}

} // namespace

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
    if (command == "map-anonymous" || command == "map-memfd") {
      mapExecutablePage(command == "map-memfd" ? ::memfd_create("payload", 0) : -1);
      std::fflush(stdout);
      continue;
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
