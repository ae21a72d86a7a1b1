#pragma once

#include <functional>
#include <memory>
#include <set>

namespace platform::reactive {

// Something that can be stopped. Cancelling twice is harmless.
class Cancellable {
public:
  virtual ~Cancellable() = default;
  virtual void cancel() = 0;
};

class AnyCancellable;
// A bag of subscriptions that live as long as their owner (e.g. an object's disposeBag).
using CancellableSet = std::set<AnyCancellable>;

// Owns one cancellable and cancels it when destroyed, so that releasing the owner of a
// subscription ends it. Move-only; ordered by identity so that it can live in a set.
class AnyCancellable {
public:
  AnyCancellable() = default;
  explicit AnyCancellable(std::shared_ptr<Cancellable> cancellable);
  // Calls the action once, on cancel() or destruction.
  explicit AnyCancellable(std::function<void()> cancelAction);
  AnyCancellable(AnyCancellable&& other) noexcept = default;
  AnyCancellable& operator=(AnyCancellable&& other) noexcept;
  AnyCancellable(const AnyCancellable&) = delete;
  AnyCancellable& operator=(const AnyCancellable&) = delete;
  ~AnyCancellable();

  void cancel();
  // Moves this cancellable into the set; the set now decides its lifetime.
  void store(CancellableSet& set);

  bool operator<(const AnyCancellable& other) const {
    return std::less<>()(cancellable_.get(), other.cancellable_.get());
  }

private:
  std::shared_ptr<Cancellable> cancellable_;
};

} // namespace platform::reactive
