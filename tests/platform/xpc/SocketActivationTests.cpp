#include "platform/xpc/SocketActivation.h"
#include "platform/xpc/TransportTestSupport.h"

#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace platform::xpc {
namespace {

// A descriptor of `fd` above the range handed over, which closes `fd`.
int movedHigh(int fd) {
  const int high = ::fcntl(fd, F_DUPFD, 100);
  ::close(fd);
  return high;
}

// A Unix stream socket bound at `path`, listening when `listen` is set.
int boundSocket(const std::string& path, bool listen) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
  ::unlink(path.c_str());
  ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address));
  if (listen) {
    ::listen(fd, 4);
  }
  return movedHigh(fd);
}

// Runs `scenario` in a child process, where descriptors 3 and up can be handed over freely;
// gives its exit status (0: every expectation held).
int inChild(const std::function<int()>& scenario) {
  const pid_t child = ::fork();
  if (child == 0) {
    _exit(scenario());
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 100;
}

// Hands `fds` over as descriptors 3, 4, ... with the variables naming `pid` (this process
// when 0).
void handOver(const std::vector<int>& fds, pid_t pid = 0) {
  for (size_t index = 0; index < fds.size(); ++index) {
    ::dup2(fds[index], static_cast<int>(3 + index));
  }
  ::setenv("LISTEN_PID", std::to_string(pid ? pid : ::getpid()).c_str(), 1);
  ::setenv("LISTEN_FDS", std::to_string(fds.size()).c_str(), 1);
}

class SocketActivationTest : public ::testing::Test {
protected:
  test::TempDirectory directory;
  std::string expected = directory.file("agent.sock");
  std::string other = directory.file("other.sock");
};

TEST_F(SocketActivationTest, AdoptsTheStreamSocketListeningAtThePathAndClosesTheRest) {
  EXPECT_EQ(0, inChild([&] {
              const int wrong = boundSocket(other, true);
              const int right = boundSocket(expected, true);
              handOver({wrong, right});
              ::close(wrong);
              ::close(right);
              UniqueFd socket;
              NSError error;
              if (!takeActivatedSocket(expected, socket, &error) || socket.get() != 4) {
                return 1;
              }
              if (std::getenv("LISTEN_FDS") != nullptr || std::getenv("LISTEN_PID") != nullptr) {
                return 2; // a child of the agent must not think the sockets are its own
              }
              if (::fcntl(3, F_GETFD) != -1 || (::fcntl(4, F_GETFD) & FD_CLOEXEC) == 0 ||
                  (::fcntl(4, F_GETFL) & O_NONBLOCK) == 0) {
                return 3;
              }
              return 0;
            }));
}

TEST_F(SocketActivationTest, SocketsMeantForAnotherProcessOrNoneAtAllAreLeftAlone) {
  EXPECT_EQ(0, inChild([&] {
              handOver({boundSocket(expected, true)}, ::getppid());
              UniqueFd socket;
              NSError error;
              if (!takeActivatedSocket(expected, socket, &error) || socket ||
                  ::fcntl(3, F_GETFD) == -1) {
                return 1;
              }
              ::unsetenv("LISTEN_FDS");
              return takeActivatedSocket(expected, socket, &error) && !socket ? 0 : 2;
            }));
}

TEST_F(SocketActivationTest, HandedSocketsThatAreNotTheExpectedListenerFailTheStart) {
  EXPECT_EQ(
      0, inChild([&] {
        const int datagram = movedHigh(::socket(AF_UNIX, SOCK_DGRAM, 0));
        handOver({boundSocket(other, true), boundSocket(expected, false), datagram});
        UniqueFd socket;
        NSError error;
        if (takeActivatedSocket(expected, socket, &error) || socket) {
          return 1;
        }
        const std::string text = error.localizedDescription();
        return text.find(
                   "handed over 3 descriptors, but none is a Unix stream socket listening at " +
                   expected) != std::string::npos
                   ? 0
                   : 2;
      }));
}

} // namespace
} // namespace platform::xpc
