#pragma once

#include "platform/reactive/detail/Emitter.h"

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace platform::reactive::detail {

// Hands every value to each current subscriber: the heart of the subjects and of share().
// Each subscriber has its own emitter, so a slow or re-entrant subscriber affects no other,
// and no lock is held while a subscriber runs. A subscriber that arrives after the end gets
// the completion at once. With a current value (CurrentValueSubject), a new subscriber gets
// it first, and a subscriber without demand keeps only the latest value.
template <class T> class Broadcast final : public std::enable_shared_from_this<Broadcast<T>> {
public:
  using Member = EmitterSubscription<T>;

  Broadcast() = default;
  explicit Broadcast(T current) : current_(std::move(current)) {}

  // Called, outside the lock, when the last subscriber cancels before the end.
  void setOnLastCancel(std::function<void()> action) { onLastCancel_ = std::move(action); }

  void subscribe(std::shared_ptr<Subscriber<T>> subscriber) {
    std::weak_ptr<Broadcast> weakSelf = this->shared_from_this();
    auto member = std::make_shared<Member>(std::move(subscriber), [weakSelf](Member* member) {
      if (auto self = weakSelf.lock()) {
        self->remove(member);
      }
    });
    std::optional<Completion> completion;
    {
      std::lock_guard lock(mutex_);
      completion = completion_;
      if (!completion) {
        if (current_) {
          member->emitter().push(*current_);
        }
        members_.push_back(member);
      }
    }
    if (completion) {
      member->emitter().complete(*completion);
    }
    member->start();
  }

  void send(const T& value) {
    std::vector<std::shared_ptr<Member>> members;
    bool keepsLatest;
    {
      std::lock_guard lock(mutex_);
      if (completion_) {
        return;
      }
      keepsLatest = current_.has_value();
      if (keepsLatest) {
        current_ = value;
      }
      members = members_;
    }
    for (auto& member : members) {
      if (keepsLatest) {
        member->emitter().pushReplacingLatest(value);
      } else {
        member->emitter().offer(value);
      }
    }
  }

  void complete(Completion completion) {
    std::vector<std::shared_ptr<Member>> members;
    {
      std::lock_guard lock(mutex_);
      if (completion_) {
        return;
      }
      completion_ = completion;
      members = std::move(members_);
      members_.clear();
    }
    for (auto& member : members) {
      member->emitter().complete(completion);
    }
  }

  // The current value; only meaningful for a broadcast made with one.
  T currentValue() const {
    std::lock_guard lock(mutex_);
    return *current_;
  }
  // `read` applied to the current value in place, under the broadcast's lock (it must not send).
  template <class Read> decltype(auto) readCurrentValue(Read&& read) const {
    std::lock_guard lock(mutex_);
    return read(static_cast<const T&>(*current_));
  }

  std::size_t subscriberCount() const {
    std::lock_guard lock(mutex_);
    return members_.size();
  }

private:
  void remove(Member* member) {
    bool wasLast = false;
    {
      std::lock_guard lock(mutex_);
      std::erase_if(members_,
                    [member](const auto& candidate) { return candidate.get() == member; });
      wasLast = members_.empty() && !completion_;
    }
    if (wasLast && onLastCancel_) {
      onLastCancel_();
    }
  }

  mutable std::mutex mutex_;
  std::vector<std::shared_ptr<Member>> members_;
  std::optional<T> current_;
  std::optional<Completion> completion_;
  std::function<void()> onLastCancel_;
};

} // namespace platform::reactive::detail
