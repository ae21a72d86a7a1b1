#include "RecordingSubscriber.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/reactive/Reactive.h"

#include <chrono>
#include <future>
#include <gtest/gtest.h>
#include <thread>

using namespace platform::reactive;
using platform::dispatch::DispatchQueue;
using namespace reactive_test;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {
struct TimeoutError : std::runtime_error {
  TimeoutError() : std::runtime_error("timeout") {}
};
} // namespace

TEST(Timeout, FailsWithTheCustomErrorOnTheGivenQueueAfterTheInterval) {
  PassthroughSubject<int> silent;
  DispatchQueue queue("XPCConnection.timeoutQueue.ABC");
  std::promise<std::pair<std::string, std::string>> ended;
  auto start = Clock::now();
  auto cancellable = silent.first()
                         .timeout(30ms, queue, [] { return TimeoutError(); })
                         .sink(
                             [&](const Completion& completion) {
                               std::string what;
                               try {
                                 std::rethrow_exception(completion.error());
                               } catch (const TimeoutError& error) {
                                 what = error.what();
                               } catch (...) {
                               }
                               ended.set_value({what, DispatchQueue::currentLabel()});
                             },
                             [](int) {});
  auto future = ended.get_future();
  ASSERT_EQ(future.wait_for(2s), std::future_status::ready);
  EXPECT_GE(Clock::now() - start, 30ms);
  auto [what, label] = future.get();
  EXPECT_EQ(what, "timeout");
  EXPECT_EQ(label, "XPCConnection.timeoutQueue.ABC");
  EXPECT_EQ(silent.subscriberCountForTest(), 0u);
}

TEST(Timeout, AnswerInTimeWinsAndTheTimerNeverFires) {
  PassthroughSubject<int> replies;
  DispatchQueue queue("test.timeout");
  auto subscriber = record<int>();
  replies.first().timeout(20ms, queue, [] { return TimeoutError(); }).subscribe(subscriber);
  replies.send(7);
  std::this_thread::sleep_for(40ms);
  queue.drainForTest();
  EXPECT_EQ(subscriber->values(), std::vector<int>{7});
  EXPECT_TRUE(subscriber->finished());
  EXPECT_EQ(subscriber->completions(), 1);
}

TEST(Timeout, WithoutErrorFactoryFinishesQuietly) {
  PassthroughSubject<int> silent;
  DispatchQueue queue("test.timeout.finish");
  auto subscriber = record<int>();
  silent.timeout(10ms, queue).subscribe(subscriber);
  for (int i = 0; i < 200 && subscriber->completions() == 0; ++i) {
    std::this_thread::sleep_for(5ms);
  }
  EXPECT_TRUE(subscriber->finished());
}

TEST(Timeout, EverySubscriptionGetsItsOwnClock) {
  // Two subscriptions to the same publisher: each sends on its own, like two sends of a reply.
  int sends = 0;
  auto send = Deferred([&] {
    ++sends;
    return PassthroughSubject<int>();
  });
  DispatchQueue queue("test.timeout.twice");
  auto first = record<int>();
  auto second = record<int>();
  auto publisher = send.timeout(10ms, queue, [] { return TimeoutError(); });
  publisher.subscribe(first);
  publisher.subscribe(second);
  EXPECT_EQ(sends, 2);
  for (int i = 0; i < 200 && (!first->failed() || !second->failed()); ++i) {
    std::this_thread::sleep_for(5ms);
  }
  EXPECT_TRUE(first->failed());
  EXPECT_TRUE(second->failed());
}
