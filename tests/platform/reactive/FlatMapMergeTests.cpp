#include "RecordingSubscriber.h"
#include "platform/reactive/Reactive.h"

#include <atomic>
#include <gtest/gtest.h>
#include <map>
#include <thread>
#include <vector>

using namespace platform::reactive;
using namespace reactive_test;

TEST(FlatMap, PassesInnerValuesInArrivalOrderAndFinishesAfterEveryInner) {
  PassthroughSubject<int> outer;
  std::map<int, PassthroughSubject<int>> inners;
  auto subscriber = record<int>();
  outer.flatMap([&](int key) { return inners[key]; }).subscribe(subscriber);
  outer.send(1);
  outer.send(2);
  inners[2].send(20);
  inners[1].send(10);
  inners[2].send(21);
  outer.send(Completion::finished());
  inners[1].send(Completion::finished());
  EXPECT_FALSE(subscriber->finished());
  inners[2].send(22);
  inners[2].send(Completion::finished());
  EXPECT_EQ(subscriber->values(), (std::vector<int>{20, 10, 21, 22}));
  EXPECT_TRUE(subscriber->finished());
}

TEST(FlatMap, InnerFailureFailsTheStreamAndCancelsTheOthers) {
  PassthroughSubject<int> outer;
  PassthroughSubject<int> quiet;
  auto subscriber = record<int>();
  outer
      .flatMap([&](int key) -> AnyPublisher<int> {
        if (key == 0) {
          return quiet.eraseToAnyPublisher();
        }
        return Fail<int>(std::runtime_error("inner"));
      })
      .subscribe(subscriber);
  outer.send(0);
  EXPECT_EQ(quiet.subscriberCountForTest(), 1u);
  outer.send(1);
  EXPECT_EQ(subscriber->failureMessage(), "inner");
  EXPECT_EQ(quiet.subscriberCountForTest(), 0u);
  EXPECT_EQ(outer.subscriberCountForTest(), 0u);
}

TEST(FlatMap, InnersResolvedConcurrentlyAllArriveBeforeTheEnd) {
  PassthroughSubject<int> outer;
  std::vector<Promise<int>> promises;
  std::atomic<int> inside{0};
  std::atomic<bool> overlapped{false};
  std::vector<int> values;
  bool finished = false;
  auto cancellable =
      outer
          .flatMap([&](int) {
            return Future<int>([&](Promise<int> promise) { promises.push_back(promise); });
          })
          .sink([&](const Completion& completion) { finished = completion.isFinished(); },
                [&](int value) {
                  if (inside.fetch_add(1) != 0) {
                    overlapped = true;
                  }
                  values.push_back(value);
                  inside.fetch_sub(1);
                });
  for (int i = 0; i < 64; ++i) {
    outer.send(i);
  }
  outer.send(Completion::finished());
  std::vector<std::thread> resolvers;
  for (int t = 0; t < 4; ++t) {
    resolvers.emplace_back([&, t] {
      for (int i = t; i < 64; i += 4) {
        promises[i].succeed(i);
      }
    });
  }
  for (auto& resolver : resolvers) {
    resolver.join();
  }
  EXPECT_EQ(values.size(), 64u);
  EXPECT_FALSE(overlapped);
  EXPECT_TRUE(finished);
}

TEST(FlatMap, EngineGoneMapsToAnEmptyInnerThatCompletesAtOnce) {
  PassthroughSubject<int> connections;
  auto subscriber = record<Never>();
  connections.flatMap([](int) { return Empty<Never>(); }).subscribe(subscriber);
  connections.send(1);
  connections.send(Completion::finished());
  EXPECT_TRUE(subscriber->finished());
}

TEST(Merge, FinishesAfterAllAndFailsOnTheFirstFailure) {
  PassthroughSubject<int> a;
  PassthroughSubject<int> b;
  auto subscriber = record<int>();
  a.merge(b).subscribe(subscriber);
  a.send(1);
  b.send(2);
  a.send(Completion::finished());
  b.send(3);
  EXPECT_FALSE(subscriber->finished());
  b.send(Completion::finished());
  EXPECT_EQ(subscriber->values(), (std::vector<int>{1, 2, 3}));
  EXPECT_TRUE(subscriber->finished());

  PassthroughSubject<int> requests;
  PassthroughSubject<int> errors;
  auto failing = record<int>();
  requests.merge(errors.tryMap([](int) -> int { throw std::runtime_error("invalidated"); }))
      .subscribe(failing);
  requests.send(1);
  errors.send(0);
  requests.send(2);
  EXPECT_EQ(failing->values(), std::vector<int>{1});
  EXPECT_EQ(failing->failureMessage(), "invalidated");
  EXPECT_EQ(requests.subscriberCountForTest(), 0u);
}

TEST(Merge, HonoursAFiniteDemand) {
  auto subscriber = record<int>(Demand::max(1));
  Just(1).merge(Just(2), Just(3)).subscribe(subscriber);
  EXPECT_EQ(subscriber->values(), std::vector<int>{1});
  EXPECT_FALSE(subscriber->finished());
  subscriber->request(Demand::max(2));
  EXPECT_EQ(subscriber->values(), (std::vector<int>{1, 2, 3}));
  EXPECT_TRUE(subscriber->finished());
}

TEST(CombineLatest, PairsLatestValuesOnceBothHaveOne) {
  PassthroughSubject<std::string> acknowledged;
  PassthroughSubject<int> elements;
  auto subscriber = record<std::pair<std::string, int>>();
  acknowledged.combineLatest(elements).subscribe(subscriber);
  elements.send(1);
  elements.send(2); // only the latest element before the acknowledgement survives
  acknowledged.send("ack");
  elements.send(3);
  acknowledged.send(Completion::finished());
  EXPECT_FALSE(subscriber->finished());
  elements.send(4);
  elements.send(Completion::finished());
  using Pair = std::pair<std::string, int>;
  EXPECT_EQ(subscriber->values(), (std::vector<Pair>{{"ack", 2}, {"ack", 3}, {"ack", 4}}));
  EXPECT_TRUE(subscriber->finished());

  PassthroughSubject<int> never;
  auto empty = record<std::pair<int, int>>();
  Empty<int>().combineLatest(never).subscribe(empty);
  EXPECT_TRUE(empty->finished());
  EXPECT_EQ(never.subscriberCountForTest(), 0u);

  auto failed = record<std::pair<int, int>>();
  never.combineLatest(Fail<int>(std::runtime_error("start failed"))).subscribe(failed);
  EXPECT_EQ(failed->failureMessage(), "start failed");
  EXPECT_EQ(never.subscriberCountForTest(), 0u);
}
