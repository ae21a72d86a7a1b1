#include "platform/dispatch/DispatchQueue.h"

#include <atomic>
#include <chrono>
#include <future>
#include <gtest/gtest.h>
#include <latch>
#include <stdexcept>
#include <thread>
#include <vector>

using namespace platform::dispatch;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

TEST(DispatchQueue, SerialQueueRunsBlocksOneAtATimeInOrder) {
  DispatchQueue queue("test.serial");
  std::vector<int> order;
  std::atomic<int> running{0};
  std::atomic<bool> overlapped{false};
  for (int i = 0; i < 200; ++i) {
    queue.async([&, i] {
      if (running.fetch_add(1) != 0) {
        overlapped = true;
      }
      order.push_back(i);
      running.fetch_sub(1);
    });
  }
  queue.drainForTest();
  EXPECT_FALSE(overlapped);
  ASSERT_EQ(order.size(), 200u);
  for (int i = 0; i < 200; ++i) {
    EXPECT_EQ(order[i], i);
  }
}

TEST(DispatchQueue, LabelIsReadableFromInsideAndOutsideTheQueue) {
  DispatchQueue queue("XPCConnection.timeoutQueue.1234");
  EXPECT_EQ(queue.label(), "XPCConnection.timeoutQueue.1234");
  EXPECT_EQ(DispatchQueue::currentLabel(), "");
  EXPECT_FALSE(queue.isCurrent());
  std::string seen;
  bool current = false;
  queue.sync([&] {
    seen = DispatchQueue::currentLabel();
    current = queue.isCurrent();
  });
  EXPECT_EQ(seen, "XPCConnection.timeoutQueue.1234");
  EXPECT_TRUE(current);
  EXPECT_EQ(DispatchQueue::main().label(), "main");
  EXPECT_EQ(DispatchQueue::global().label(), "global");
}

TEST(DispatchQueue, SyncRethrowsAndRunsInPlaceOnItsOwnQueue) {
  DispatchQueue queue("test.sync");
  EXPECT_THROW(queue.sync([] { throw std::runtime_error("boom"); }), std::runtime_error);
  int value = 0;
  queue.sync([&] { queue.sync([&] { value = 7; }); });
  EXPECT_EQ(value, 7);
}

TEST(DispatchQueue, GlobalQueueRunsBlocksConcurrently) {
  // Each block waits for the other: this only completes when both run at the same time.
  std::latch bothRunning(2);
  std::promise<void> first;
  std::promise<void> second;
  DispatchQueue::global().async([&] {
    bothRunning.arrive_and_wait();
    first.set_value();
  });
  DispatchQueue::global().async([&] {
    bothRunning.arrive_and_wait();
    second.set_value();
  });
  EXPECT_EQ(first.get_future().wait_for(2s), std::future_status::ready);
  EXPECT_EQ(second.get_future().wait_for(2s), std::future_status::ready);
  EXPECT_EQ(DispatchQueue::global().label(), "global");
}

TEST(DispatchQueue, AsyncAfterRunsOnTheQueueAfterTheDelayInDeadlineOrder) {
  DispatchQueue queue("test.timer");
  auto start = Clock::now();
  std::promise<std::pair<Clock::duration, std::string>> late;
  std::vector<int> order;
  queue.asyncAfter(40ms, [&] {
    order.push_back(40);
    late.set_value({Clock::now() - start, DispatchQueue::currentLabel()});
  });
  queue.asyncAfter(20ms, [&] { order.push_back(20); });
  auto future = late.get_future();
  ASSERT_EQ(future.wait_for(2s), std::future_status::ready);
  auto [elapsed, label] = future.get();
  EXPECT_GE(elapsed, 40ms);
  EXPECT_LT(elapsed, 1s);
  EXPECT_EQ(label, "test.timer");
  queue.drainForTest();
  EXPECT_EQ(order, (std::vector<int>{20, 40}));
}

TEST(DispatchQueue, CancelledTimerNeverRunsAndReleasesItsBlockAtOnce) {
  DispatchQueue queue("test.cancel");
  auto captured = std::make_shared<int>(1);
  std::atomic<bool> ran{false};
  auto item = queue.asyncAfter(20ms, [&ran, captured] { ran = true; });
  EXPECT_EQ(captured.use_count(), 2);
  item->cancel();
  EXPECT_EQ(captured.use_count(), 1);
  std::this_thread::sleep_for(50ms);
  queue.drainForTest();
  EXPECT_FALSE(ran);
  EXPECT_TRUE(item->isCancelled());
}

TEST(DispatchQueue, ReleasedQueueStillRunsItsPendingBlocks) {
  std::promise<void> ran;
  {
    DispatchQueue queue("test.released");
    queue.asyncAfter(10ms, [&] { ran.set_value(); });
  }
  EXPECT_EQ(ran.get_future().wait_for(2s), std::future_status::ready);
}
