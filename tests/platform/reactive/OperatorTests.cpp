#include "RecordingSubscriber.h"
#include "platform/reactive/Reactive.h"

#include <gtest/gtest.h>
#include <stdexcept>
#include <string>
#include <vector>

using namespace platform::reactive;
using namespace reactive_test;

TEST(Operators, TryMapFailsWithTheThrownErrorAndCancelsUpstream) {
  PassthroughSubject<int> subject;
  auto subscriber = record<std::string>();
  subject
      .tryMap([](int value) {
        if (value < 0) {
          throw std::runtime_error("negative");
        }
        return std::to_string(value);
      })
      .subscribe(subscriber);
  subject.send(1);
  subject.send(-1);
  subject.send(2);
  EXPECT_EQ(subscriber->values(), std::vector<std::string>{"1"});
  EXPECT_EQ(subscriber->failureMessage(), "negative");
  EXPECT_EQ(subject.subscriberCountForTest(), 0u);
}

TEST(Operators, FilterAndCompactMapMakeUpForDroppedValuesWithDemand) {
  PassthroughSubject<int> subject;
  auto subscriber = record<int>(Demand::max(1));
  subject.filter([](int value) { return value % 2 == 0; })
      .compactMap([](int value) -> std::optional<int> {
        return value == 4 ? std::nullopt : std::optional<int>(value * 10);
      })
      .subscribe(subscriber);
  subject.send(1); // dropped by filter: one more is asked for
  subject.send(4); // dropped by compactMap: one more is asked for
  subject.send(6);
  subject.send(8); // the one value asked for was delivered: no demand left
  EXPECT_EQ(subscriber->values(), std::vector<int>{60});
}

TEST(Operators, ScanFoldsAndRemoveDuplicatesDropsRepeats) {
  PassthroughSubject<int> subject;
  auto subscriber = record<int>();
  subject.removeDuplicates()
      .scan(0, [](int sum, int value) { return sum + value; })
      .subscribe(subscriber);
  for (int value : {1, 1, 2, 2, 2, 3, 1}) {
    subject.send(value);
  }
  EXPECT_EQ(subscriber->values(), (std::vector<int>{1, 3, 6, 7}));

  std::vector<std::set<int>> sets;
  PassthroughSubject<int> events;
  auto cancellable = events
                         .scan(std::set<int>(),
                               [](std::set<int> set, int value) {
                                 set.insert(value);
                                 return set;
                               })
                         .removeDuplicates()
                         .sink([&](std::set<int> set) { sets.push_back(set); });
  events.send(1);
  events.send(1); // same set again: suppressed
  events.send(2);
  EXPECT_EQ(sets, (std::vector<std::set<int>>{{1}, {1, 2}}));
}

TEST(Operators, HandleEventsRunsHooksInEventOrder) {
  std::vector<std::string> events;
  EventHooks<int> hooks{
      .receiveSubscription = [&] { events.push_back("subscription"); },
      .receiveOutput =
          [&](const int& value) { events.push_back("output " + std::to_string(value)); },
      .receiveCompletion =
          [&](const Completion& completion) {
            events.push_back(completion.isFinished() ? "finished" : "failed");
          },
      .receiveCancel = [&] { events.push_back("cancel"); },
      .receiveRequest = [&](Demand) { events.push_back("request"); },
  };
  auto cancellable = Just(5).handleEvents(hooks).sink([&](int) { events.push_back("sink"); });
  EXPECT_EQ(events,
            (std::vector<std::string>{"subscription", "request", "output 5", "sink", "finished"}));

  events.clear();
  PassthroughSubject<int> subject;
  auto running = subject.handleEvents(hooks).sink([](int) {});
  running.cancel();
  EXPECT_EQ(events, (std::vector<std::string>{"subscription", "request", "cancel"}));
}

TEST(Operators, SubscriptionHookRunsOnceTheSourceIsWiredSoNoEarlyValueIsLost) {
  // Like a connection activated from the hook: its first message arrives before the sink has
  // even asked for anything, and must still reach it.
  PassthroughSubject<int> requests;
  std::vector<int> seen;
  auto cancellable = requests.flatMap([](int value) { return Just(value); })
                         .catchError([](std::exception_ptr) { return Empty<int>(); })
                         .handleEvents({.receiveSubscription = [&] { requests.send(1); }})
                         .sink([&](int value) { seen.push_back(value); });
  requests.send(2);
  EXPECT_EQ(seen, (std::vector<int>{1, 2}));
}

TEST(Operators, FirstTakesOneValueFinishesAndCancelsUpstream) {
  PassthroughSubject<int> subject;
  auto subscriber = record<int>();
  subject.first().subscribe(subscriber);
  auto matching = record<int>();
  subject.first([](int value) { return value > 5; }).subscribe(matching);
  subject.send(3);
  subject.send(9);
  subject.send(10);
  EXPECT_EQ(subscriber->values(), std::vector<int>{3});
  EXPECT_TRUE(subscriber->finished());
  EXPECT_EQ(matching->values(), std::vector<int>{9});
  EXPECT_TRUE(matching->finished());
  EXPECT_EQ(subject.subscriberCountForTest(), 0u);

  auto none = record<int>();
  Empty<int>().first().subscribe(none);
  EXPECT_TRUE(none->finished());
}

TEST(Operators, CatchReplacesTheFirstFailureOnly) {
  auto caught = record<int>();
  Fail<int>(std::runtime_error("first"))
      .catchError([](std::exception_ptr) { return Just(7); })
      .subscribe(caught);
  EXPECT_EQ(caught->values(), std::vector<int>{7});
  EXPECT_TRUE(caught->finished());

  auto again = record<int>();
  Fail<int>(std::runtime_error("first"))
      .catchError([](std::exception_ptr) { return Fail<int>(std::runtime_error("second")); })
      .subscribe(again);
  EXPECT_EQ(again->failureMessage(), "second");

  auto replaced = record<int>();
  Fail<int>(std::runtime_error("x")).replaceError(3).subscribe(replaced);
  EXPECT_EQ(replaced->values(), std::vector<int>{3});
  EXPECT_TRUE(replaced->finished());

  auto emptied = record<int>();
  Fail<int>(std::runtime_error("x")).replaceErrorWithEmpty().subscribe(emptied);
  EXPECT_TRUE(emptied->finished());

  auto untouched = record<int>();
  Just(1).replaceError(3).subscribe(untouched);
  EXPECT_EQ(untouched->values(), std::vector<int>{1});
}

TEST(Operators, CatchCarriesUnmetDemandOverToTheReplacement) {
  PassthroughSubject<int> subject;
  auto subscriber = record<int>(Demand::max(2));
  subject.catchError([](std::exception_ptr) { return Just(2).append(Just(3)); })
      .subscribe(subscriber);
  subject.send(1);
  subject.send(Completion::failure(std::runtime_error("x")));
  EXPECT_EQ(subscriber->values(), (std::vector<int>{1, 2}));
  EXPECT_FALSE(subscriber->finished());
  subscriber->request(Demand::max(1));
  EXPECT_EQ(subscriber->values(), (std::vector<int>{1, 2, 3}));
  EXPECT_TRUE(subscriber->finished());
}

TEST(Operators, MapErrorReplacesTheError) {
  auto subscriber = record<int>();
  Fail<int>(std::runtime_error("inner"))
      .mapError([](std::exception_ptr) { return std::logic_error("outer"); })
      .subscribe(subscriber);
  EXPECT_EQ(subscriber->failureMessage(), "outer");
}

TEST(Operators, AppendPrefixWhileAndIgnoreOutput) {
  auto appended = record<int>();
  Just(1).append(Just(2)).subscribe(appended);
  EXPECT_EQ(appended->values(), (std::vector<int>{1, 2}));
  EXPECT_TRUE(appended->finished());

  auto failedFirst = record<int>();
  Fail<int>(std::runtime_error("x")).append(Just(2)).subscribe(failedFirst);
  EXPECT_TRUE(failedFirst->values().empty());
  EXPECT_TRUE(failedFirst->failed());

  PassthroughSubject<int> subject;
  auto prefix = record<int>();
  subject.prefixWhile([](int value) { return (value & 2) == 0; }).subscribe(prefix);
  for (int value : {1, 4, 2, 5}) {
    subject.send(value);
  }
  EXPECT_EQ(prefix->values(), (std::vector<int>{1, 4}));
  EXPECT_TRUE(prefix->finished());
  EXPECT_EQ(subject.subscriberCountForTest(), 0u);

  auto ignored = record<Never>();
  Just(1).append(Just(2)).ignoreOutput().subscribe(ignored);
  EXPECT_TRUE(ignored->values().empty());
  EXPECT_TRUE(ignored->finished());
}

TEST(Operators, PrefixUntilOutputFromStopsWithinTheTriggersSend) {
  PassthroughSubject<int> values;
  PassthroughSubject<std::string> cancels;
  auto subscriber = record<int>();
  values.prefixUntilOutputFrom(cancels.filter([](const std::string& id) { return id == "S"; }))
      .subscribe(subscriber);
  values.send(1);
  cancels.send("other");
  values.send(2);
  cancels.send("S");
  EXPECT_TRUE(subscriber->finished());
  values.send(3);
  EXPECT_EQ(subscriber->values(), (std::vector<int>{1, 2}));
  EXPECT_EQ(values.subscriberCountForTest(), 0u);
  EXPECT_EQ(cancels.subscriberCountForTest(), 0u);
}

TEST(Operators, ShareRunsUpstreamOnceForAllSubscribers) {
  int runs = 0;
  PassthroughSubject<int> source;
  auto shared = Deferred([&] {
                  ++runs;
                  return source;
                }).share();
  auto first = record<int>();
  auto second = record<int>();
  shared.subscribe(first);
  shared.subscribe(second);
  source.send(1);
  source.send(Completion::finished());
  EXPECT_EQ(runs, 1);
  EXPECT_EQ(first->values(), std::vector<int>{1});
  EXPECT_EQ(second->values(), std::vector<int>{1});
  EXPECT_TRUE(second->finished());

  auto late = record<int>();
  shared.subscribe(late);
  EXPECT_TRUE(late->finished());
  EXPECT_EQ(runs, 1);

  PassthroughSubject<int> endless;
  auto sharedEndless = endless.share();
  auto a = sharedEndless.sink([](int) {});
  auto b = sharedEndless.sink([](int) {});
  EXPECT_EQ(endless.subscriberCountForTest(), 1u);
  a.cancel();
  EXPECT_EQ(endless.subscriberCountForTest(), 1u);
  b.cancel();
  EXPECT_EQ(endless.subscriberCountForTest(), 0u);
}
