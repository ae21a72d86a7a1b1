#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace platform::dispatch::detail {

// What every kind of queue shares: a label and a way to take a block. The queue a thread is
// running a block of is kept in a thread-local, so that code can ask where it runs.
class QueueCore : public std::enable_shared_from_this<QueueCore> {
public:
  explicit QueueCore(std::string label) : label_(std::move(label)) {}
  virtual ~QueueCore() = default;

  const std::string& label() const { return label_; }
  virtual void enqueue(std::function<void()> block) = 0;
  // Returns once every block submitted before the call has run.
  virtual void drainForTest() = 0;

  // The queue whose block the calling thread is running, or null.
  static const QueueCore* current();

protected:
  // Marks the calling thread as running a block of `queue` for the scope's lifetime.
  class CurrentScope {
  public:
    explicit CurrentScope(const QueueCore* queue);
    ~CurrentScope();
    CurrentScope(const CurrentScope&) = delete;
    CurrentScope& operator=(const CurrentScope&) = delete;

  private:
    const QueueCore* previous_;
  };

private:
  const std::string label_;
};

// Runs blocks one at a time in submission order. It owns no thread: while it has work, one
// drain job of it sits on the shared pool, so idle serial queues cost nothing.
class SerialQueueCore final : public QueueCore {
public:
  using QueueCore::QueueCore;
  void enqueue(std::function<void()> block) override;
  void drainForTest() override;

private:
  void drain();

  std::mutex mutex_;
  std::deque<std::function<void()>> blocks_;
  bool scheduled_ = false;
};

// Runs every block on the shared pool as soon as a thread is free, several at once.
class ConcurrentQueueCore final : public QueueCore {
public:
  using QueueCore::QueueCore;
  void enqueue(std::function<void()> block) override;
  void drainForTest() override;
};

// Holds blocks until the thread that runs the main loop takes them, one at a time.
class MainQueueCore final : public QueueCore {
public:
  using QueueCore::QueueCore;
  static MainQueueCore& shared();
  static std::shared_ptr<MainQueueCore> sharedPointer();

  void enqueue(std::function<void()> block) override;
  // Runs the blocks pending now on the calling thread (outside a running main loop).
  void drainForTest() override;

  // Serves the queue on the calling thread until stopForTest; forever if nobody stops it.
  void run();
  void stopForTest();

private:
  std::mutex mutex_;
  std::condition_variable blocksAvailable_;
  std::deque<std::function<void()>> blocks_;
  bool stopRequested_ = false;
};

} // namespace platform::dispatch::detail
