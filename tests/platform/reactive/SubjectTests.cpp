#include "RecordingSubscriber.h"
#include "platform/reactive/CurrentValueSubject.h"
#include "platform/reactive/PassthroughSubject.h"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

using namespace platform::reactive;
using namespace reactive_test;

TEST(PassthroughSubject, DeliversOnlyWhatWasAskedForAndDropsTheRest) {
  PassthroughSubject<int> subject;
  auto subscriber = record<int>(Demand::max(1));
  subject.subscribe(subscriber);
  subject.send(1);
  subject.send(2); // no demand left: dropped
  EXPECT_EQ(subscriber->values(), std::vector<int>{1});
  subscriber->request(Demand::max(1));
  subject.send(3);
  EXPECT_EQ(subscriber->values(), (std::vector<int>{1, 3}));
}

TEST(PassthroughSubject, CompletionEndsEveryoneAndGreetsLateSubscribers) {
  PassthroughSubject<int> subject;
  auto early = record<int>();
  subject.subscribe(early);
  subject.send(Completion::finished());
  subject.send(4);
  subject.send(Completion::failure(std::runtime_error("ignored")));
  EXPECT_TRUE(early->finished());
  EXPECT_EQ(early->completions(), 1);
  EXPECT_TRUE(early->values().empty());

  auto late = record<int>();
  subject.subscribe(late);
  EXPECT_EQ(late->subscriptions(), 1);
  EXPECT_TRUE(late->finished());
  EXPECT_EQ(subject.subscriberCountForTest(), 0u);
}

TEST(PassthroughSubject, ConcurrentSendsReachEachSubscriberOneAtATime) {
  PassthroughSubject<int> subject;
  std::atomic<int> inside{0};
  std::atomic<bool> overlapped{false};
  std::atomic<int> received{0};
  auto cancellable = subject.sink([&](int) {
    if (inside.fetch_add(1) != 0) {
      overlapped = true;
    }
    ++received;
    inside.fetch_sub(1);
  });
  std::vector<std::thread> senders;
  for (int t = 0; t < 4; ++t) {
    senders.emplace_back([&] {
      for (int i = 0; i < 2000; ++i) {
        subject.send(i);
      }
    });
  }
  for (auto& sender : senders) {
    sender.join();
  }
  EXPECT_EQ(received, 8000);
  EXPECT_FALSE(overlapped);
}

TEST(PassthroughSubject, SubscriberMaySendCancelAndRequestFromInsideADelivery) {
  PassthroughSubject<int> subject;
  std::vector<int> seen;
  AnyCancellable cancellable;
  cancellable = subject.sink([&](int value) {
    seen.push_back(value);
    if (value == 1) {
      subject.send(2); // delivered after this delivery returns, before send(1) returns
      seen.push_back(-1);
    }
    if (value == 2) {
      cancellable.cancel();
    }
  });
  subject.send(1);
  subject.send(3);
  EXPECT_EQ(seen, (std::vector<int>{1, -1, 2}));
  EXPECT_EQ(subject.subscriberCountForTest(), 0u);
}

TEST(PassthroughSubject, CancelRacingWithSendsStopsDeliveryAndFreesTheSubscriber) {
  for (int round = 0; round < 50; ++round) {
    PassthroughSubject<int> subject;
    std::atomic<int> received{0};
    auto token = std::make_shared<int>(0);
    std::weak_ptr<int> weakToken = token;
    auto cancellable = subject.sink([&received, token](int) { ++received; });
    token.reset();
    std::thread sender([&] {
      for (int i = 0; i < 300; ++i) {
        subject.send(i);
      }
    });
    cancellable.cancel();
    sender.join();
    int before = received;
    subject.send(-1);
    EXPECT_EQ(received, before);
    EXPECT_TRUE(weakToken.expired());
    EXPECT_EQ(subject.subscriberCountForTest(), 0u);
  }
}

TEST(CurrentValueSubject, NewSubscriberGetsTheCurrentValueThenEveryChange) {
  CurrentValueSubject<int> subject(1);
  auto subscriber = record<int>();
  subject.subscribe(subscriber);
  subject.send(2);
  EXPECT_EQ(subject.value(), 2);
  EXPECT_EQ(subscriber->values(), (std::vector<int>{1, 2}));

  auto late = record<int>();
  subject.subscribe(late);
  EXPECT_EQ(late->values(), std::vector<int>{2});
}

TEST(CurrentValueSubject, SubscriberWithoutDemandGetsTheLatestValueWhenItAsks) {
  CurrentValueSubject<int> subject(1);
  auto subscriber = record<int>(Demand::none());
  subject.subscribe(subscriber);
  subject.send(2);
  subject.send(3);
  EXPECT_TRUE(subscriber->values().empty());
  subscriber->request(Demand::max(1));
  EXPECT_EQ(subscriber->values(), std::vector<int>{3});
  subscriber->request(Demand::max(1));
  subject.send(4);
  EXPECT_EQ(subscriber->values(), (std::vector<int>{3, 4}));
}
