#include "platform/dispatch/DispatchGroup.h"
#include "platform/dispatch/DispatchQueue.h"

#include <atomic>
#include <chrono>
#include <future>
#include <gtest/gtest.h>

using namespace platform::dispatch;
using namespace std::chrono_literals;

TEST(DispatchGroup, WaitReturnsWhenEveryEnteredBlockHasLeft) {
  DispatchGroup group;
  std::atomic<int> done{0};
  for (int i = 0; i < 20; ++i) {
    DispatchQueue::global().async(group, [&] { ++done; });
  }
  group.wait();
  EXPECT_EQ(done, 20);
}

TEST(DispatchGroup, TimedWaitFailsWhileWorkIsOutstanding) {
  DispatchGroup group;
  group.enter();
  EXPECT_FALSE(group.wait(20ms));
  group.leave();
  EXPECT_TRUE(group.wait(20ms));
}

TEST(DispatchGroup, NotifyRunsOnTheGivenQueueOnceTheCountIsZero) {
  DispatchGroup group;
  DispatchQueue queue("test.notify");
  std::promise<std::string> notified;
  group.enter();
  group.notify(queue, [&] { notified.set_value(DispatchQueue::currentLabel()); });
  auto future = notified.get_future();
  EXPECT_EQ(future.wait_for(20ms), std::future_status::timeout);
  group.leave();
  ASSERT_EQ(future.wait_for(2s), std::future_status::ready);
  EXPECT_EQ(future.get(), "test.notify");

  std::promise<void> immediate;
  group.notify(queue, [&] { immediate.set_value(); });
  EXPECT_EQ(immediate.get_future().wait_for(2s), std::future_status::ready);
}
