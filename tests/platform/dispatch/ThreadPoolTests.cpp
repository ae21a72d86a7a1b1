#include "platform/dispatch/ThreadPool.h"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>

using namespace platform::dispatch;
using namespace std::chrono_literals;

TEST(ThreadPool, NeverExceedsItsBoundAndRetiresIdleThreads) {
  // Never destroyed, like the shared pool: its detached workers may still be unwinding.
  static auto* pool = new ThreadPool(3, 30ms);
  std::atomic<int> running{0};
  std::atomic<int> mostAtOnce{0};
  std::atomic<int> finished{0};
  for (int i = 0; i < 12; ++i) {
    pool->submit([&] {
      int now = ++running;
      int seen = mostAtOnce.load();
      while (now > seen && !mostAtOnce.compare_exchange_weak(seen, now)) {
      }
      std::this_thread::sleep_for(5ms);
      --running;
      ++finished;
    });
  }
  EXPECT_LE(pool->threadCountForTest(), 3u);
  pool->waitUntilIdleForTest();
  EXPECT_EQ(finished, 12);
  EXPECT_LE(mostAtOnce, 3);
  EXPECT_GE(mostAtOnce, 2);
  for (int i = 0; i < 100 && pool->threadCountForTest() > 0; ++i) {
    std::this_thread::sleep_for(10ms);
  }
  EXPECT_EQ(pool->threadCountForTest(), 0u);
}
