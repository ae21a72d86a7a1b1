#pragma once

#include "platform/reactive/Completion.h"
#include "platform/reactive/Demand.h"
#include "platform/reactive/Subscriber.h"

#include <deque>
#include <memory>
#include <mutex>
#include <optional>

namespace agent {

// Holds the values a push-style producer reports until its subscriber asks for them, and
// reports the completion once the values with demand have gone out. Intake and flushes are
// serialised by a recursive lock, so the producer may report from any thread and a subscriber
// may ask for more from inside a delivery.
template <class T> class DemandBuffer {
public:
  // The three demand counts of the buffer.
  struct Demand {
    platform::reactive::Demand processed; // values handed to the subscriber
    platform::reactive::Demand requested; // demand the subscriber granted in all
    platform::reactive::Demand sent;      // demand already reported upstream
  };

  explicit DemandBuffer(std::shared_ptr<platform::reactive::Subscriber<T>> subscriber)
      : subscriber_(std::move(subscriber)) {}
  DemandBuffer(const DemandBuffer&) = delete;
  DemandBuffer& operator=(const DemandBuffer&) = delete;

  // Takes one value: straight to the subscriber under unlimited demand, otherwise into the
  // buffer. A value after the completion is ignored (the producer broke its contract, which
  // must not take the agent down).
  platform::reactive::Demand buffer(T value) {
    std::lock_guard lock(lock_);
    if (completion_ || ended_) {
      return platform::reactive::Demand::none();
    }
    if (demandState_.requested.isUnlimited()) {
      deliver(std::move(value));
      return platform::reactive::Demand::none();
    }
    buffer_.push_back(std::move(value));
    return flush(std::nullopt);
  }

  // Takes the completion; only the first one counts.
  platform::reactive::Demand complete(platform::reactive::Completion completion) {
    std::lock_guard lock(lock_);
    if (completion_ || ended_) {
      return platform::reactive::Demand::none();
    }
    completion_ = std::move(completion);
    return flush(std::nullopt);
  }

  // Adds the subscriber's demand and hands out what it allows. Asking for none changes
  // nothing: it must not release a completion that waits for the first demand.
  platform::reactive::Demand demand(platform::reactive::Demand demand) {
    if (demand.isNone()) {
      return platform::reactive::Demand::none();
    }
    std::lock_guard lock(lock_);
    return flush(demand);
  }

  // Stops every further delivery and releases the subscriber.
  void detach() {
    std::lock_guard lock(lock_);
    ended_ = true;
    buffer_.clear();
    subscriber_.reset();
  }

  Demand demandStateForTest() const {
    std::lock_guard lock(lock_);
    return demandState_;
  }
  std::size_t bufferedCountForTest() const {
    std::lock_guard lock(lock_);
    return buffer_.size();
  }

private:
  // Hands out buffered values within the granted demand, then the completion if one is
  // recorded; returns the demand not yet reported upstream. `added` is present when the
  // subscriber asked for more, absent when a value or the completion came in.
  platform::reactive::Demand flush(std::optional<platform::reactive::Demand> added) {
    using platform::reactive::Demand;
    if (added) {
      demandState_.requested += *added;
    }
    if (ended_ || (demandState_.requested.isNone() && !added)) {
      // No demand has ever been granted: values and completion keep waiting.
      return Demand::none();
    }
    while (
        !buffer_.empty() && !demandState_.processed.isUnlimited() &&
        (demandState_.requested.isUnlimited() || demandState_.processed < demandState_.requested)) {
      T value = std::move(buffer_.front());
      buffer_.pop_front();
      demandState_.processed += Demand::max(1);
      deliver(std::move(value));
      if (ended_) {
        return Demand::none(); // a nested flush delivered the completion or the stream ended
      }
    }
    if (completion_) {
      // Values still waiting for demand are dropped with the completion.
      buffer_.clear();
      demandState_ = {};
      auto subscriber = std::move(subscriber_);
      auto completion = std::move(*completion_);
      ended_ = true;
      if (subscriber) {
        subscriber->receiveCompletion(std::move(completion));
      }
      return Demand::none();
    }
    Demand toReport = demandState_.requested.isUnlimited()
                          ? Demand::unlimited()
                          : demandState_.requested - demandState_.sent;
    demandState_.sent += toReport;
    return toReport;
  }

  // Passes one value to the subscriber and adds the demand it answers with.
  void deliver(T value) {
    if (!subscriber_) {
      return;
    }
    auto subscriber = subscriber_; // kept alive even if the delivery detaches it
    demandState_.requested += subscriber->receiveValue(std::move(value));
  }

  mutable std::recursive_mutex lock_;
  std::deque<T> buffer_;
  std::shared_ptr<platform::reactive::Subscriber<T>> subscriber_;
  std::optional<platform::reactive::Completion> completion_;
  Demand demandState_;
  // The completion went out or the subscriber left: nothing more is delivered.
  bool ended_ = false;
};

} // namespace agent
