#include "operations/ProcessTermination.h"
#include "platform/dispatch/DispatchMain.h"

#include <gtest/gtest.h>

namespace operations {
namespace {

// The exit waits for the main loop: the scheduling call itself returns.
TEST(ProcessTerminationDeathTest, ExitsWithStatusZeroFromTheMainLoop) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        scheduleTermination();
        std::fputs("scheduled\n", stderr);
        platform::dispatch::dispatchMain();
      },
      ::testing::ExitedWithCode(0), "scheduled");
}

} // namespace
} // namespace operations
