#pragma once

#include "platform/foundation/NSError.h"
#include "platform/xpc/Task.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <sys/epoll.h>

namespace platform::xpc {

class WorkerPool;

// Something the pool watches: a descriptor whose readiness a pool thread reports. The
// registration is one-shot: after handleReadiness the source is silent until it calls
// WorkerPool::rearm, so one thread at a time handles a given source.
class EventSource {
public:
  virtual ~EventSource() = default;
  virtual void handleReadiness(uint32_t epollEvents) = 0;

private:
  friend class WorkerPool;
  int watchedFd_ = -1;
  uint64_t token_ = 0;
};

// The threads that read every socket of the transport and run its handlers. All threads
// wait in one epoll set; the thread that a ready socket wakes reads it, re-arms it, and then
// runs what it read, so a call costs no hand-over between threads. While all threads are busy
// the pool grows at once up to twice the processors (at least 8); beyond that, a monitor adds a
// thread only when work has waited a few milliseconds while no thread finished anything (the
// handlers block), up to maxThreads. So blocking handlers get the threads they need, and a
// burst of work on busy processors does not become a burst of threads. Threads that stay idle
// for idleTimeout retire, keeping one while any source is registered.
class WorkerPool {
public:
  struct Options {
    size_t maxThreads = 512;
    std::chrono::milliseconds idleTimeout{10'000};
  };

  static std::shared_ptr<WorkerPool> create(Options options);
  static std::shared_ptr<WorkerPool> create() { return create(Options{}); }
  // The process-wide pool; never destroyed.
  static const std::shared_ptr<WorkerPool>& shared();

  // Stops the threads once the queued tasks have run.
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  // Runs `task` on a pool thread.
  void dispatch(Task task);

  // Starts watching `fd` for input on behalf of `source`; the pool keeps `source` alive until
  // removeSource. The descriptor must stay open until then.
  bool addSource(int fd, std::shared_ptr<EventSource> source, NSError* error);
  // Reports the source's next readiness for `events` (EPOLLIN, EPOLLRDHUP, EPOLLOUT; none
  // silences it until the next rearm). Harmless before addSource and once removed.
  void rearm(const EventSource& source, uint32_t events = EPOLLIN | EPOLLRDHUP);
  // Stops watching; gives back the pool's reference so that the caller drops it outside any
  // lock of its own.
  std::shared_ptr<EventSource> removeSource(const EventSource& source);

  size_t threadCount() const;
  size_t sourceCount() const;
  // No task queued and no thread busy: nothing of ours runs right now.
  bool isQuiescentForTest() const;

private:
  struct Core;
  explicit WorkerPool(std::shared_ptr<Core> core);
  std::shared_ptr<Core> core_;
};

} // namespace platform::xpc
