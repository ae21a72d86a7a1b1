#include "platform/dispatch/DispatchMain.h"
#include "platform/dispatch/DispatchQueue.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

using namespace platform::dispatch;
using namespace std::chrono_literals;

TEST(DispatchMain, MainLoopRunsBlocksFromOtherThreadsOnTheCallingThread) {
  std::vector<std::string> labels;
  std::vector<std::thread::id> threads;
  std::thread producer([&] {
    for (int i = 0; i < 3; ++i) {
      DispatchQueue::main().async([&] {
        labels.push_back(DispatchQueue::currentLabel());
        threads.push_back(std::this_thread::get_id());
      });
    }
    DispatchQueue::main().asyncAfter(10ms, [] { stopMainLoopForTest(); });
  });
  runMainLoopForTest();
  producer.join();
  EXPECT_EQ(labels, (std::vector<std::string>(3, "main")));
  for (auto id : threads) {
    EXPECT_EQ(id, std::this_thread::get_id());
  }
}

TEST(DispatchMain, MainQueueBlocksWaitUntilTheMainThreadServesThem) {
  bool ran = false;
  DispatchQueue::main().async([&] { ran = true; });
  std::this_thread::sleep_for(10ms);
  EXPECT_FALSE(ran);
  DispatchQueue::main().drainForTest();
  EXPECT_TRUE(ran);
}

TEST(DispatchMainDeathTest, ExitScheduledOnTheMainQueueEndsTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        DispatchQueue::global().async([] { DispatchQueue::main().async([] { std::exit(0); }); });
        dispatchMain();
      },
      testing::ExitedWithCode(0), "");
}
