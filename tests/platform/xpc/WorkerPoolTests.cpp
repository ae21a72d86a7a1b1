#include "platform/xpc/TransportTestSupport.h"
#include "platform/xpc/WorkerPool.h"

#include <atomic>
#include <future>
#include <gtest/gtest.h>

namespace platform::xpc {
namespace {

using namespace std::chrono_literals;

TEST(WorkerPoolTest, GrowsWhileTasksBlockAndRetiresIdleThreads) {
  const size_t threadsBefore = test::threadCount();
  auto pool = WorkerPool::create({512, 30ms});
  std::atomic<int> running{0};
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  test::Signal finished;
  for (int index = 0; index < 12; ++index) {
    pool->dispatch([&] {
      ++running;
      released.wait();
      finished.fire();
    });
  }
  EXPECT_TRUE(test::waitUntil([&] { return running.load() == 12; }));
  EXPECT_GE(pool->threadCount(), 12u);
  // Work that arrives while every thread blocks still gets a thread.
  std::promise<void> meanwhile;
  pool->dispatch([&] { meanwhile.set_value(); });
  EXPECT_EQ(std::future_status::ready, meanwhile.get_future().wait_for(5s));
  release.set_value();
  EXPECT_TRUE(finished.waitFor(12));
  // With nothing to watch, every idle thread retires.
  EXPECT_TRUE(test::waitUntil([&] { return pool->threadCount() == 0; }));
  EXPECT_TRUE(test::waitUntil([&] { return test::threadCount() <= threadsBefore; }));
  // And the pool comes back to life for new work.
  std::promise<void> ran;
  pool->dispatch([&] { ran.set_value(); });
  EXPECT_EQ(std::future_status::ready, ran.get_future().wait_for(5s));
}

TEST(WorkerPoolTest, StaysWithinItsBoundAndStillRunsEveryTask) {
  auto pool = WorkerPool::create({3, 1000ms});
  std::atomic<int> running{0};
  std::atomic<int> peak{0};
  test::Signal finished;
  for (int index = 0; index < 20; ++index) {
    pool->dispatch([&] {
      const int now = ++running;
      peak = std::max(peak.load(), now);
      std::this_thread::sleep_for(2ms);
      --running;
      finished.fire();
    });
  }
  EXPECT_TRUE(finished.waitFor(20));
  EXPECT_LE(peak.load(), 3);
  EXPECT_LE(pool->threadCount(), 3u);
}

TEST(WorkerPoolTest, BusyThreadsThatKeepFinishingWorkGetNoCompany) {
  auto pool = WorkerPool::create({512, 1000ms});
  test::Signal finished;
  // Far more short tasks than threads: they finish all the time, so the pool stays near its
  // busy limit instead of starting a thread for each.
  for (int index = 0; index < 2000; ++index) {
    pool->dispatch([&] {
      const auto end = std::chrono::steady_clock::now() + 200us;
      while (std::chrono::steady_clock::now() < end) {
      }
      finished.fire();
    });
  }
  EXPECT_TRUE(finished.waitFor(2000));
  EXPECT_LE(pool->threadCount(), std::max<size_t>(8, 2 * std::thread::hardware_concurrency()) + 2);
}

TEST(WorkerPoolTest, QueuedTasksStillRunWhenThePoolIsReleased) {
  const size_t threadsBefore = test::threadCount();
  test::Signal finished;
  {
    auto pool = WorkerPool::create({2, 1000ms});
    for (int index = 0; index < 50; ++index) {
      pool->dispatch([&] { finished.fire(); });
    }
  }
  EXPECT_TRUE(finished.waitFor(50));
  EXPECT_TRUE(test::waitUntil([&] { return test::threadCount() <= threadsBefore; }));
}

} // namespace
} // namespace platform::xpc
