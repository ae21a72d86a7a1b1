#include "RecordingSubscriber.h"
#include "platform/reactive/Reactive.h"

#include <chrono>
#include <gtest/gtest.h>
#include <thread>

using namespace platform::reactive;
using namespace reactive_test;
using namespace std::chrono_literals;

TEST(Future, BodyRunsOnceAtCreationAndEverySubscriberGetsTheResult) {
  int runs = 0;
  auto future = Future<int>([&](Promise<int> promise) {
    ++runs;
    promise.succeed(42);
    promise.succeed(43); // a future resolves once
  });
  EXPECT_EQ(runs, 1);
  auto first = record<int>();
  auto second = record<int>();
  future.subscribe(first);
  future.subscribe(second);
  EXPECT_EQ(runs, 1);
  EXPECT_EQ(first->values(), std::vector<int>{42});
  EXPECT_TRUE(first->finished());
  EXPECT_EQ(second->values(), std::vector<int>{42});
}

TEST(Future, ResolvesLaterFromAnotherThreadAndWaitsForDemand) {
  std::optional<Promise<int>> kept;
  auto future = Future<int>([&](Promise<int> promise) { kept = promise; });
  auto waiting = record<int>(Demand::none());
  future.subscribe(waiting);
  std::thread([&] { kept->succeed(5); }).join();
  EXPECT_TRUE(waiting->values().empty());
  EXPECT_FALSE(waiting->finished());
  waiting->request(Demand::max(1));
  EXPECT_EQ(waiting->values(), std::vector<int>{5});
  EXPECT_TRUE(waiting->finished());
}

TEST(Future, ThrowingBodyFailsTheFuture) {
  auto subscriber = record<int>();
  Future<int>([](Promise<int>) { throw std::runtime_error("op failed"); }).subscribe(subscriber);
  EXPECT_EQ(subscriber->failureMessage(), "op failed");

  auto failed = record<int>();
  Future<int>([](Promise<int> promise) { promise.fail(std::runtime_error("no")); })
      .map([](int value) { return value + 1; })
      .replaceError(-1)
      .subscribe(failed);
  EXPECT_EQ(failed->values(), std::vector<int>{-1});
}

TEST(Sources, JustWaitsForDemandEmptyAndFailDoNot) {
  auto subscriber = record<int>(Demand::none());
  Just(1).subscribe(subscriber);
  EXPECT_TRUE(subscriber->values().empty());
  EXPECT_FALSE(subscriber->finished());
  subscriber->request(Demand::max(1));
  EXPECT_EQ(subscriber->values(), std::vector<int>{1});
  EXPECT_TRUE(subscriber->finished());

  auto empty = record<int>(Demand::none());
  Empty<int>().subscribe(empty);
  EXPECT_TRUE(empty->finished());
  auto failed = record<int>(Demand::none());
  Fail<int>(std::runtime_error("x")).subscribe(failed);
  EXPECT_EQ(failed->failureMessage(), "x");
  auto defaulted = record<int>();
  AnyPublisher<int>().subscribe(defaulted);
  EXPECT_TRUE(defaulted->finished());
}

TEST(Sources, DeferredMakesAPublisherPerSubscriber) {
  int made = 0;
  auto deferred = Deferred([&] { return Just(++made); });
  EXPECT_EQ(made, 0);
  auto first = record<int>();
  auto second = record<int>();
  deferred.subscribe(first);
  deferred.subscribe(second);
  EXPECT_EQ(first->values(), std::vector<int>{1});
  EXPECT_EQ(second->values(), std::vector<int>{2});

  auto failing = record<int>();
  Deferred([]() -> AnyPublisher<int> { throw std::runtime_error("factory"); }).subscribe(failing);
  EXPECT_EQ(failing->failureMessage(), "factory");
}
