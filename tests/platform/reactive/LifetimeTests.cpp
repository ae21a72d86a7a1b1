#include "RecordingSubscriber.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/reactive/Reactive.h"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>

using namespace platform::reactive;
using platform::dispatch::DispatchQueue;
using namespace reactive_test;
using namespace std::chrono_literals;

namespace {

// Counts the live copies of itself, so a test can see whether a chain let go of its closures.
struct Live {
  static inline std::atomic<int> count{0};
  Live() { ++count; }
  Live(const Live&) { ++count; }
  ~Live() { --count; }
};

// A chain with every kind of node, each capturing a Live.
AnyPublisher<int> everyOperator(const PassthroughSubject<int>& source,
                                const PassthroughSubject<int>& inner,
                                const PassthroughSubject<int>& trigger, Live live) {
  return source.map([live](int value) { return value; })
      .filter([live](int) { return true; })
      .flatMap([live, inner](int) { return inner; })
      .merge(Just(0).append(inner))
      .scan(0, [live](int sum, int value) { return sum + value; })
      .removeDuplicates()
      .combineLatest(Just(0))
      .map([live](std::pair<int, int> pair) { return pair.first; })
      .handleEvents({.receiveOutput = [live](const int&) {}})
      .catchError([live](std::exception_ptr) { return Just(-1); })
      .mapError([live](std::exception_ptr error) { return error; })
      .prefixUntilOutputFrom(trigger)
      .timeout(10s, DispatchQueue("test.lifetime"), [live] { return std::runtime_error("t"); })
      .share();
}

} // namespace

TEST(Lifetime, CancellingFreesTheWholeChain) {
  PassthroughSubject<int> source;
  PassthroughSubject<int> inner;
  PassthroughSubject<int> trigger;
  {
    auto publisher = everyOperator(source, inner, trigger, Live());
    Live sinkLive;
    std::vector<int> seen;
    auto cancellable = publisher.sink([&seen, sinkLive](int value) { seen.push_back(value); });
    source.send(1);
    inner.send(5);
    EXPECT_FALSE(seen.empty());
    EXPECT_GT(source.subscriberCountForTest(), 0u);
    cancellable.cancel();
    EXPECT_EQ(source.subscriberCountForTest(), 0u);
    EXPECT_EQ(inner.subscriberCountForTest(), 0u);
    EXPECT_EQ(trigger.subscriberCountForTest(), 0u);
  }
  EXPECT_EQ(Live::count, 0);
}

TEST(Lifetime, CompletionFreesTheChainWhileTheCancellableStillExists) {
  PassthroughSubject<int> source;
  PassthroughSubject<int> inner;
  PassthroughSubject<int> trigger;
  std::optional<AnyCancellable> kept;
  bool finished = false;
  {
    auto publisher = everyOperator(source, inner, trigger, Live());
    kept = publisher.sink([&, live = Live()](const Completion&) { finished = true; }, [](int) {});
  }
  source.send(1);
  trigger.send(0);
  EXPECT_TRUE(finished);
  EXPECT_EQ(Live::count, 0);
  EXPECT_EQ(source.subscriberCountForTest(), 0u);
  EXPECT_EQ(inner.subscriberCountForTest(), 0u);
}

TEST(Lifetime, ReleasingTheOnlyCancellableEndsTheSubscription) {
  PassthroughSubject<int> source;
  int received = 0;
  {
    auto cancellable =
        source.map([live = Live()](int value) { return value; }).sink([&received](int) {
          ++received;
        });
    source.send(1);
  }
  source.send(2);
  EXPECT_EQ(received, 1);
  EXPECT_EQ(Live::count, 0);
  EXPECT_EQ(source.subscriberCountForTest(), 0u);
}
