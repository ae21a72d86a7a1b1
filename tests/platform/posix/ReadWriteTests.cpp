#include "TemporaryFolder.h"
#include "platform/posix/ReadWrite.h"
#include "platform/posix/UniqueFd.h"

#include <cerrno>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <unistd.h>

namespace platform::posix {
namespace {

// A pipe holds 64 KiB by default: a larger text is written in several short writes while the
// other end drains it.
TEST(ReadWrite, WriteAllFinishesAcrossShortWritesToAPipe) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  UniqueFd readEnd(fds[0]), writeEnd(fds[1]);
  const std::string text(1 << 20, 'q');
  std::string received;
  std::thread reader([&] {
    char buffer[4096];
    ssize_t got;
    while ((got = ::read(readEnd.get(), buffer, sizeof buffer)) > 0) {
      received.append(buffer, size_t(got));
    }
  });
  EXPECT_EQ(writeAll(writeEnd.get(), text), 0);
  writeEnd.reset();
  reader.join();
  EXPECT_EQ(received, text);
}

TEST(ReadWrite, WriteAllReportsTheErrnoOfAFailedWrite) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  UniqueFd readEnd(fds[0]);
  // Reading from the write side's descriptor: EBADF for the write.
  EXPECT_EQ(writeAll(readEnd.get(), std::string_view("x")), EBADF);
  EXPECT_EQ(errno, EBADF);
  ::close(fds[1]);
}

TEST(ReadWrite, WriteAtAndReadFullyAtOffsets) {
  testing::TemporaryFolder folder;
  UniqueFd fd(::open((folder / "f").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
  ASSERT_TRUE(fd);
  ASSERT_EQ(writeAllAt(fd.get(), "abcdef", 6, 10), 0);
  char buffer[4] = {};
  ASSERT_EQ(readFully(fd.get(), buffer, 3, 12), 0);
  EXPECT_EQ(std::string(buffer, 3), "cde");
  ASSERT_EQ(readFully(fd.get(), buffer, 2, 0), 0); // the hole reads as zero bytes
  EXPECT_EQ(buffer[0], 0);
}

TEST(ReadWrite, ReadFullyFailsWithEIOWhenTheFileEndsFirst) {
  testing::TemporaryFolder folder;
  UniqueFd fd(::open((folder / "f").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
  ASSERT_EQ(writeAll(fd.get(), std::string_view("abc")), 0);
  char buffer[8];
  EXPECT_EQ(readFully(fd.get(), buffer, 4, 0), EIO);
  EXPECT_EQ(readFully(fd.get(), buffer, 1, 3), EIO);
}

TEST(ReadWrite, WriteAllAtRefusesARangeBeyondTheLargestOffset) {
  EXPECT_EQ(writeAllAt(-1, "x", 1, ~uint64_t(0) - 1), EFBIG);
}

} // namespace
} // namespace platform::posix
