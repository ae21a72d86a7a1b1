#pragma once

#include <memory>
#include <type_traits>
#include <utility>

namespace platform::xpc {

// A move-only `void()` callable, so that work can own descriptors and other move-only values
// (std::function demands copyable targets).
class Task {
public:
  Task() = default;
  template <typename Callable,
            typename = std::enable_if_t<!std::is_same_v<std::decay_t<Callable>, Task>>>
  Task(Callable&& callable) // NOLINT: implicit like std::function
      : body_(std::make_unique<Model<std::decay_t<Callable>>>(std::forward<Callable>(callable))) {}

  explicit operator bool() const { return body_ != nullptr; }
  void operator()() { body_->call(); }

private:
  struct Concept {
    virtual ~Concept() = default;
    virtual void call() = 0;
  };
  template <typename Callable> struct Model final : Concept {
    explicit Model(Callable&& callable) : callable(std::move(callable)) {}
    explicit Model(const Callable& callable) : callable(callable) {}
    void call() override { callable(); }
    Callable callable;
  };
  std::unique_ptr<Concept> body_;
};

} // namespace platform::xpc
