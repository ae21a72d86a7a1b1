#include "platform/dispatch/DispatchQueue.h"

#include "platform/dispatch/DispatchGroup.h"
#include "platform/dispatch/QueueCore.h"
#include "platform/dispatch/TimerThread.h"

#include <exception>
#include <future>

namespace platform::dispatch {

DispatchQueue::DispatchQueue(std::string label)
    : core_(std::make_shared<detail::SerialQueueCore>(std::move(label))) {}

DispatchQueue DispatchQueue::main() {
  return DispatchQueue(detail::MainQueueCore::sharedPointer());
}

DispatchQueue DispatchQueue::global() {
  // Leaked on purpose, like the pool it feeds.
  static auto* core = new std::shared_ptr<detail::QueueCore>(
      std::make_shared<detail::ConcurrentQueueCore>("global"));
  return DispatchQueue(*core);
}

const std::string& DispatchQueue::label() const {
  return core_->label();
}

void DispatchQueue::async(std::function<void()> block) const {
  core_->enqueue(std::move(block));
}

void DispatchQueue::async(const DispatchGroup& group, std::function<void()> block) const {
  group.enter();
  core_->enqueue([group, block = std::move(block)]() mutable {
    block();
    block = nullptr;
    group.leave();
  });
}

std::shared_ptr<DispatchWorkItem> DispatchQueue::asyncAfter(std::chrono::nanoseconds delay,
                                                            std::function<void()> block) const {
  auto item = std::make_shared<DispatchWorkItem>(std::move(block));
  asyncAfter(delay, item);
  return item;
}

void DispatchQueue::asyncAfter(std::chrono::nanoseconds delay,
                               std::shared_ptr<DispatchWorkItem> item) const {
  auto deadline =
      TimerThread::Clock::now() + std::chrono::duration_cast<TimerThread::Clock::duration>(delay);
  TimerThread::shared().schedule(deadline, [core = core_, item = std::move(item)] {
    // A cancelled item is dropped here rather than occupying a queue slot.
    if (!item->isCancelled()) {
      core->enqueue([item] { item->perform(); });
    }
  });
}

void DispatchQueue::sync(const std::function<void()>& block) const {
  if (isCurrent()) {
    block();
    return;
  }
  std::promise<void> done;
  core_->enqueue([&] {
    try {
      block();
      done.set_value();
    } catch (...) {
      done.set_exception(std::current_exception());
    }
  });
  done.get_future().get();
}

bool DispatchQueue::isCurrent() const {
  return detail::QueueCore::current() == core_.get();
}

std::string DispatchQueue::currentLabel() {
  const auto* current = detail::QueueCore::current();
  return current ? current->label() : std::string();
}

void DispatchQueue::drainForTest() const {
  core_->drainForTest();
}

} // namespace platform::dispatch
