#include "RecordingSubscriber.h"
#include "platform/reactive/Reactive.h"

#include <gtest/gtest.h>

using namespace platform::reactive;
using namespace reactive_test;
using namespace std::chrono_literals;

TEST(Smoke, Compiles) {
  PassthroughSubject<int> subject;
  CurrentValueSubject<int> current(1);
  auto p = subject.map([](int v) { return v * 2; })
               .tryMap([](int v) { return std::to_string(v); })
               .compactMap([](std::string s) -> std::optional<std::string> { return s; })
               .filter([](const std::string&) { return true; })
               .flatMap([](std::string s) { return Just(s); })
               .merge(Just(std::string("x")))
               .first()
               .timeout(50ms, platform::dispatch::DispatchQueue("q"),
                        [] { return std::runtime_error("t"); })
               .catchError([](std::exception_ptr) { return Empty<std::string>(); })
               .replaceError("r")
               .mapError([](std::exception_ptr e) { return e; })
               .handleEvents({.receiveCancel = [] {}})
               .scan(0, [](int acc, const std::string&) { return acc + 1; })
               .removeDuplicates()
               .append(Just(5))
               .prefixWhile([](int) { return true; })
               .prefixUntilOutputFrom(current)
               .share();
  std::vector<int> got;
  auto c = p.sink([](const Completion&) {}, [&](int v) { got.push_back(v); });
  subject.send(3);
  auto f = Future<int>([](Promise<int> promise) { promise.succeed(3); });
  auto d = Deferred([] { return Just(1); });
  auto n = Fail<int>(std::runtime_error("x")).ignoreOutput();
  CancellableSet bag;
  d.sink([](int) {}).store(bag);
}
