// Attacks on the agent's judgement of a client's identity, run by an unprivileged user against
// a genuine signed client. Each prints what it did; the end-to-end tests check that the agent
// refuses the client and logs why.
//
//   identity-attacks traced-exec PROGRAM [ARGS...]
//     Starts PROGRAM traced (PTRACE_TRACEME before exec), turns its prctl(PR_SET_DUMPABLE, 0)
//     into a harmless getpid, detaches before it connects, and exits with PROGRAM's status.
//     Prints "client pid N" first.
//     With a tracer attached at exec the kernel withholds the set-group-ID group.
//   identity-attacks shared-socket SOCKET HANDSHAKE REQUEST PROGRAM [ARGS...]
//     Connects to SOCKET, then execs PROGRAM (a genuine client that keeps running) while a
//     child keeps the connection and sends the HANDSHAKE and REQUEST messages over it as the
//     exec'd client ATTACK_DELAY_MS (default 500) later. Prints the two replies' payloads, one
//     per line.
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/prctl.h>
#include <sys/ptrace.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/user.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

int usage() {
  std::fprintf(stderr, "usage: identity-attacks traced-exec PROGRAM [ARGS...]\n"
                       "       identity-attacks shared-socket SOCKET HANDSHAKE REQUEST PROGRAM "
                       "[ARGS...]\n");
  return 2;
}

int exitStatus(int waitStatus) {
  if (WIFEXITED(waitStatus)) {
    return WEXITSTATUS(waitStatus);
  }
  return 128 + WTERMSIG(waitStatus);
}

int tracedExec(char** program) {
#if defined(__x86_64__)
  const pid_t child = ::fork();
  if (child < 0) {
    std::perror("fork");
    return 1;
  }
  if (child == 0) {
    ::ptrace(PTRACE_TRACEME, 0, nullptr, nullptr);
    ::execvp(program[0], program);
    _exit(127);
  }
  std::printf("client pid %d\n", static_cast<int>(child));
  std::fflush(stdout);
  int status = 0;
  if (::waitpid(child, &status, 0) != child || !WIFSTOPPED(status)) {
    std::fprintf(stderr, "traced-exec: the program did not stop at its exec\n");
    return 1;
  }
  ::ptrace(PTRACE_SETOPTIONS, child, nullptr, PTRACE_O_TRACESYSGOOD);
  bool entering = true;
  while (true) {
    ::ptrace(PTRACE_SYSCALL, child, nullptr, nullptr);
    if (::waitpid(child, &status, 0) != child) {
      return 1;
    }
    if (WIFEXITED(status) || WIFSIGNALED(status)) {
      std::printf("the program ended before it made itself non-dumpable\n");
      return exitStatus(status);
    }
    if (WSTOPSIG(status) != (SIGTRAP | 0x80)) {
      continue;
    }
    if (entering) {
      user_regs_struct registers{};
      ::ptrace(PTRACE_GETREGS, child, nullptr, &registers);
      if (registers.orig_rax == SYS_prctl && registers.rdi == PR_SET_DUMPABLE) {
        // Runs getpid instead, then makes the call look successful on its way out.
        registers.orig_rax = SYS_getpid;
        ::ptrace(PTRACE_SETREGS, child, nullptr, &registers);
        ::ptrace(PTRACE_SYSCALL, child, nullptr, nullptr);
        if (::waitpid(child, &status, 0) != child || !WIFSTOPPED(status)) {
          return 1;
        }
        ::ptrace(PTRACE_GETREGS, child, nullptr, &registers);
        registers.rax = 0;
        ::ptrace(PTRACE_SETREGS, child, nullptr, &registers);
        ::ptrace(PTRACE_DETACH, child, nullptr, nullptr);
        std::printf("neutralised prctl(PR_SET_DUMPABLE) and detached\n");
        std::fflush(stdout);
        break;
      }
    }
    entering = !entering;
  }
  if (::waitpid(child, &status, 0) != child) {
    return 1;
  }
  return exitStatus(status);
#else
  (void)program;
  std::fprintf(stderr, "traced-exec: only written for x86_64\n");
  return 77;
#endif
}

bool writeAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t written = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (written < 0 && errno == EINTR) {
      continue;
    }
    if (written <= 0) {
      return false;
    }
    done += static_cast<size_t>(written);
  }
  return true;
}

bool readExactly(int fd, void* buffer, size_t length) {
  auto* out = static_cast<char*>(buffer);
  size_t done = 0;
  while (done < length) {
    const ssize_t got = ::read(fd, out + done, length - done);
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got <= 0) {
      return false;
    }
    done += static_cast<size_t>(got);
  }
  return true;
}

// One call-with-reply frame of the transport (docs/transport.md) carrying `payload`.
std::string callFrame(const std::string& payload, uint64_t callId) {
  std::string frame("XPCF\x01\x01\x00\x00", 8);
  const auto length = static_cast<uint32_t>(payload.size());
  frame.append(reinterpret_cast<const char*>(&length), 4);
  frame.append(4, '\0');
  frame.append(reinterpret_cast<const char*>(&callId), 8);
  return frame + payload;
}

// Sends `message` as call `callId` and returns the payload of the reply, or a note.
std::string exchange(int fd, const std::string& message, uint64_t callId) {
  if (!writeAll(fd, callFrame(message, callId))) {
    return "(the connection is closed)";
  }
  unsigned char header[24];
  if (!readExactly(fd, header, sizeof header)) {
    return "(the connection is closed)";
  }
  uint32_t length = 0;
  std::memcpy(&length, header + 8, 4);
  if (length > (1u << 20)) {
    return "(reply too large)";
  }
  std::string payload(length, '\0');
  if (!readExactly(fd, payload.data(), length)) {
    return "(the connection is closed)";
  }
  return payload;
}

int sharedSocket(const char* socketPath, const std::string& handshake, const std::string& request,
                 char** program) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0); // inherited across the exec on purpose
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, socketPath, sizeof address.sun_path - 1);
  if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    std::perror("connect");
    return 1;
  }
  const pid_t child = ::fork();
  if (child < 0) {
    std::perror("fork");
    return 1;
  }
  if (child == 0) {
    // Until the parent runs the genuine client (ATTACK_DELAY_MS, 500 by default).
    const char* delay = std::getenv("ATTACK_DELAY_MS");
    ::usleep(static_cast<useconds_t>((delay != nullptr ? std::atoi(delay) : 500) * 1000));
    std::printf("%s\n", exchange(fd, handshake, 1).c_str());
    std::printf("%s\n", exchange(fd, request, 2).c_str());
    std::fflush(stdout);
    _exit(0);
  }
  ::execvp(program[0], program);
  std::perror("exec");
  return 127;
}

} // namespace

int main(int argc, char** argv) {
  if (argc >= 3 && std::strcmp(argv[1], "traced-exec") == 0) {
    return tracedExec(argv + 2);
  }
  if (argc >= 6 && std::strcmp(argv[1], "shared-socket") == 0) {
    return sharedSocket(argv[2], argv[3], argv[4], argv + 5);
  }
  return usage();
}
