#include "platform/dispatch/QueueCore.h"

#include "platform/dispatch/ThreadPool.h"

#include <future>

namespace platform::dispatch::detail {

namespace {
thread_local const QueueCore* currentQueue = nullptr;
} // namespace

const QueueCore* QueueCore::current() {
  return currentQueue;
}

QueueCore::CurrentScope::CurrentScope(const QueueCore* queue) : previous_(currentQueue) {
  currentQueue = queue;
}

QueueCore::CurrentScope::~CurrentScope() {
  currentQueue = previous_;
}

void SerialQueueCore::enqueue(std::function<void()> block) {
  std::lock_guard lock(mutex_);
  blocks_.push_back(std::move(block));
  if (scheduled_) {
    return;
  }
  scheduled_ = true;
  // The drain job keeps the queue alive until its pending blocks have run.
  ThreadPool::shared().submit(
      [self = std::static_pointer_cast<SerialQueueCore>(shared_from_this())] { self->drain(); });
}

void SerialQueueCore::drain() {
  CurrentScope scope(this);
  std::unique_lock lock(mutex_);
  while (!blocks_.empty()) {
    auto block = std::move(blocks_.front());
    blocks_.pop_front();
    lock.unlock();
    block();
    block = nullptr;
    lock.lock();
  }
  scheduled_ = false;
}

void SerialQueueCore::drainForTest() {
  std::promise<void> done;
  enqueue([&done] { done.set_value(); });
  done.get_future().wait();
}

void ConcurrentQueueCore::enqueue(std::function<void()> block) {
  ThreadPool::shared().submit([self = shared_from_this(), block = std::move(block)]() mutable {
    CurrentScope scope(self.get());
    block();
    block = nullptr;
  });
}

void ConcurrentQueueCore::drainForTest() {
  ThreadPool::shared().waitUntilIdleForTest();
}

MainQueueCore& MainQueueCore::shared() {
  return *sharedPointer();
}

std::shared_ptr<MainQueueCore> MainQueueCore::sharedPointer() {
  // Leaked on purpose: blocks may still be submitted while static objects are destroyed.
  static auto* core = new std::shared_ptr<MainQueueCore>(std::make_shared<MainQueueCore>("main"));
  return *core;
}

void MainQueueCore::enqueue(std::function<void()> block) {
  std::lock_guard lock(mutex_);
  blocks_.push_back(std::move(block));
  blocksAvailable_.notify_one();
}

void MainQueueCore::drainForTest() {
  CurrentScope scope(this);
  std::unique_lock lock(mutex_);
  while (!blocks_.empty()) {
    auto block = std::move(blocks_.front());
    blocks_.pop_front();
    lock.unlock();
    block();
    block = nullptr;
    lock.lock();
  }
}

void MainQueueCore::run() {
  CurrentScope scope(this);
  std::unique_lock lock(mutex_);
  for (;;) {
    blocksAvailable_.wait(lock, [this] { return stopRequested_ || !blocks_.empty(); });
    if (stopRequested_) {
      stopRequested_ = false;
      return;
    }
    auto block = std::move(blocks_.front());
    blocks_.pop_front();
    lock.unlock();
    block();
    block = nullptr;
    lock.lock();
  }
}

void MainQueueCore::stopForTest() {
  std::lock_guard lock(mutex_);
  stopRequested_ = true;
  blocksAvailable_.notify_all();
}

} // namespace platform::dispatch::detail
