#include "platform/posix/RetryOnInterrupt.h"

#include <atomic>
#include <csignal>
#include <gtest/gtest.h>
#include <pthread.h>
#include <thread>
#include <unistd.h>

namespace platform::posix {
namespace {

TEST(RetryOnInterrupt, RepeatsOnlyWhileTheCallFailsWithEINTR) {
  int calls = 0;
  const int result = retryOnInterrupt([&] {
    ++calls;
    errno = calls < 3 ? EINTR : 0;
    return calls < 3 ? -1 : 7;
  });
  EXPECT_EQ(result, 7);
  EXPECT_EQ(calls, 3);
}

TEST(RetryOnInterrupt, ReturnsOtherFailuresWithTheirErrno) {
  int calls = 0;
  const ssize_t result = retryOnInterrupt([&]() -> ssize_t {
    ++calls;
    errno = EBADF;
    return -1;
  });
  EXPECT_EQ(result, -1);
  EXPECT_EQ(errno, EBADF);
  EXPECT_EQ(calls, 1);
}

// A read blocked on an empty pipe is interrupted by a signal whose handler does not restart
// it; the wrapper reads on and gets the byte written afterwards.
TEST(RetryOnInterrupt, SurvivesARealSignalDuringABlockingRead) {
  struct sigaction action {
  }, previous{};
  action.sa_handler = [](int) {};
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0; // no SA_RESTART: the read fails with EINTR
  ASSERT_EQ(::sigaction(SIGUSR1, &action, &previous), 0);
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  const pthread_t reader = ::pthread_self();
  std::thread signaller([&] {
    usleep(50'000);
    ::pthread_kill(reader, SIGUSR1);
    usleep(50'000);
    ASSERT_EQ(::write(fds[1], "x", 1), 1);
  });
  char byte = 0;
  const ssize_t got = retryOnInterrupt([&] { return ::read(fds[0], &byte, 1); });
  signaller.join();
  EXPECT_EQ(got, 1);
  EXPECT_EQ(byte, 'x');
  ::close(fds[0]);
  ::close(fds[1]);
  ::sigaction(SIGUSR1, &previous, nullptr);
}

} // namespace
} // namespace platform::posix
