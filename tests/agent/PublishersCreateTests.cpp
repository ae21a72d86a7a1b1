#include "agent/PublishersCreate.h"

#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace agent {
namespace {

using platform::reactive::AnyCancellable;
using platform::reactive::Completion;
using platform::reactive::Demand;
using platform::reactive::Subscription;
using Create = Publishers::Create<bool>;

// Records what reaches it; asks for `initialDemand` on subscription and answers each value with
// what `onValue` returns.
class RecordingSubscriber : public platform::reactive::Subscriber<bool> {
public:
  explicit RecordingSubscriber(Demand initialDemand = Demand::none())
      : initialDemand(initialDemand) {}

  void receiveSubscription(std::shared_ptr<Subscription> received) override {
    subscription = received;
    subscription->request(initialDemand);
  }
  Demand receiveValue(bool value) override {
    values.push_back(value);
    return onValue ? onValue(value) : Demand::none();
  }
  void receiveCompletion(Completion completion) override {
    ++completions;
    finished = completion.isFinished();
  }

  Demand initialDemand;
  std::function<Demand(bool)> onValue;
  std::shared_ptr<Subscription> subscription;
  std::vector<bool> values;
  int completions = 0;
  bool finished = false;
};

// A publisher whose factory reports true, false, true and then finishes, all at once.
Create threeValuesThenFinished() {
  return Create([](Create::Subscriber subscriber) {
    subscriber.onValue(true);
    subscriber.onValue(false);
    subscriber.onValue(true);
    subscriber.onCompletion(Completion::finished());
    return AnyCancellable();
  });
}

TEST(PublishersCreate, NothingReachesTheSubscriberBeforeItAsks) {
  auto subscriber = std::make_shared<RecordingSubscriber>();
  threeValuesThenFinished().subscribe(subscriber);
  EXPECT_TRUE(subscriber->values.empty());
  EXPECT_EQ(subscriber->completions, 0);
}

TEST(PublishersCreate, ADemandOfOneGetsTheFirstValueThenTheCompletion) {
  auto subscriber = std::make_shared<RecordingSubscriber>();
  threeValuesThenFinished().subscribe(subscriber);
  subscriber->subscription->request(Demand::max(1));
  EXPECT_EQ(subscriber->values, std::vector<bool>{true});
  EXPECT_EQ(subscriber->completions, 1);
  EXPECT_TRUE(subscriber->finished);
  // The dropped values do not come later.
  subscriber->subscription->request(Demand::max(5));
  EXPECT_EQ(subscriber->values.size(), 1u);
  EXPECT_EQ(subscriber->completions, 1);
}

TEST(PublishersCreate, UnlimitedDemandGetsEveryValueThenTheCompletion) {
  auto subscriber = std::make_shared<RecordingSubscriber>(Demand::unlimited());
  threeValuesThenFinished().eraseToAnyPublisher().subscribe(subscriber);
  EXPECT_EQ(subscriber->values, (std::vector<bool>{true, false, true}));
  EXPECT_EQ(subscriber->completions, 1);
}

TEST(PublishersCreate, ValuesAfterUnlimitedDemandAreNotBuffered) {
  Create::Subscriber producer;
  Create publisher([&](Create::Subscriber subscriber) {
    producer = subscriber;
    return AnyCancellable();
  });
  auto subscriber = std::make_shared<RecordingSubscriber>(Demand::unlimited());
  publisher.subscribe(subscriber);
  auto* subscription = dynamic_cast<Create::Subscription*>(subscriber->subscription.get());
  ASSERT_NE(subscription, nullptr);
  producer.onValue(false);
  EXPECT_EQ(subscriber->values, std::vector<bool>{false});
  EXPECT_EQ(subscription->buffer->bufferedCountForTest(), 0u);
  producer.onValue(true);
  producer.onCompletion(Completion::finished());
  EXPECT_EQ(subscriber->values, (std::vector<bool>{false, true}));
  EXPECT_EQ(subscriber->completions, 1);
  // A producer that breaks its contract is ignored rather than taking the agent down.
  producer.onValue(true);
  producer.onCompletion(Completion::finished());
  EXPECT_EQ(subscriber->values.size(), 2u);
  EXPECT_EQ(subscriber->completions, 1);
}

TEST(PublishersCreate, ASubscriberMayAskForMoreFromInsideADelivery) {
  auto subscriber = std::make_shared<RecordingSubscriber>(Demand::max(1));
  subscriber->onValue = [&](bool) {
    subscriber->subscription->request(Demand::max(1)); // re-enters the buffer's lock
    return Demand::none();
  };
  threeValuesThenFinished().subscribe(subscriber);
  EXPECT_EQ(subscriber->values, (std::vector<bool>{true, false, true}));
  EXPECT_EQ(subscriber->completions, 1);
}

TEST(PublishersCreate, DemandReturnedByTheSubscriberCounts) {
  auto subscriber = std::make_shared<RecordingSubscriber>(Demand::max(1));
  subscriber->onValue = [](bool) { return Demand::max(1); };
  threeValuesThenFinished().subscribe(subscriber);
  EXPECT_EQ(subscriber->values.size(), 3u);
  EXPECT_EQ(subscriber->completions, 1);
}

TEST(PublishersCreate, CancelStopsTheProducerAndDeliversNothingMore) {
  Create::Subscriber producer;
  int cancels = 0;
  Create publisher([&](Create::Subscriber subscriber) {
    producer = subscriber;
    return AnyCancellable([&cancels] { ++cancels; });
  });
  auto subscriber = std::make_shared<RecordingSubscriber>(Demand::unlimited());
  publisher.subscribe(subscriber);
  producer.onValue(true);
  subscriber->subscription->cancel();
  EXPECT_EQ(cancels, 1);
  producer.onValue(false);
  producer.onCompletion(Completion::finished());
  EXPECT_EQ(subscriber->values, std::vector<bool>{true});
  EXPECT_EQ(subscriber->completions, 0);
}

TEST(PublishersCreate, ReportsAfterTheSubscriptionIsGoneAreIgnored) {
  Create::Subscriber producer;
  int cancels = 0;
  Create publisher([&](Create::Subscriber subscriber) {
    producer = subscriber;
    return AnyCancellable([&cancels] { ++cancels; });
  });
  auto subscriber = std::make_shared<RecordingSubscriber>(Demand::unlimited());
  publisher.subscribe(subscriber);
  subscriber->subscription.reset(); // the only strong reference
  EXPECT_EQ(cancels, 1);            // releasing the subscription stops the producer
  producer.onValue(true);
  producer.onCompletion(Completion::finished());
  EXPECT_TRUE(subscriber->values.empty());
}

TEST(PublishersCreate, SubscriptionDescribesItsTypes) {
  auto subscriber = std::make_shared<RecordingSubscriber>();
  threeValuesThenFinished().subscribe(subscriber);
  auto* subscription = dynamic_cast<Create::Subscription*>(subscriber->subscription.get());
  ASSERT_NE(subscription, nullptr);
  EXPECT_EQ(subscription->description(), "Create.Subscription<Bool, Never>");
}

} // namespace
} // namespace agent
