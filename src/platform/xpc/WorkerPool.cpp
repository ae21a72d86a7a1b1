#include "platform/xpc/WorkerPool.h"

#include "platform/xpc/TransportError.h"
#include "platform/xpc/UniqueFd.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <deque>
#include <malloc.h>
#include <mutex>
#include <poll.h>
#include <pthread.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <system_error>
#include <thread>
#include <unordered_map>

namespace platform::xpc {
namespace {

// Tokens below kFirstSourceToken name the pool's own event descriptors.
constexpr uint64_t kTaskToken = 1;
constexpr uint64_t kStopToken = 2;
constexpr uint64_t kFirstSourceToken = 16;

constexpr uint32_t kSourceEvents = EPOLLIN | EPOLLRDHUP | EPOLLONESHOT;

// Threads started as soon as all others are busy: at least this many, or two per processor.
constexpr size_t kMinimumBusyLimit = 8;
// How long work may wait while every thread is busy and none finishes before one is added.
constexpr auto kStallInterval = std::chrono::milliseconds(5);

void reportUnexpected(const char* what) noexcept {
  // A pool thread has nobody to hand an exception to; the handler above it is at fault.
  std::fprintf(stderr, "WorkerPool: %s\n", what);
}

} // namespace

struct WorkerPool::Core {
  Options options;
  UniqueFd epoll;
  UniqueFd taskEvent; // readable while tasks are queued
  UniqueFd stopEvent; // readable once the pool stops; never drained

  std::mutex mutex;
  std::deque<Task> tasks;
  std::unordered_map<uint64_t, std::shared_ptr<EventSource>> sources;
  uint64_t nextToken = kFirstSourceToken;
  size_t threads = 0;
  size_t idle = 0;          // threads waiting for work or about to
  size_t busyLimit = 0;     // threads started as soon as all others are busy
  uint64_t completions = 0; // work items finished, for the monitor
  bool monitoring = false;
  bool stopping = false;

  // What to start when a thread takes work: a new thread while the pool is small and none is
  // left waiting; beyond the busy limit, only the monitor, which adds threads while work waits
  // and nothing finishes. The caller starts it after unlocking.
  enum class Start { nothing, worker, monitor };
  Start reserveThreadLocked() {
    if (idle > 0 || threads >= options.maxThreads) {
      return Start::nothing;
    }
    if (threads < busyLimit) {
      ++threads;
      ++idle;
      return Start::worker;
    }
    if (monitoring) {
      return Start::nothing;
    }
    monitoring = true;
    return Start::monitor;
  }

  static void start(const std::shared_ptr<Core>& core, Start what) {
    if (what == Start::worker) {
      startThread(core);
    } else if (what == Start::monitor) {
      startMonitor(core);
    }
  }

  // Whether a task is queued or a watched source is ready, with no thread free to take it.
  bool hasWaitingWorkLocked() const {
    pollfd ready{epoll.get(), POLLIN, 0};
    return !tasks.empty() || ::poll(&ready, 1, 0) > 0;
  }

  // While every thread is busy: each kStallInterval in which work waits and no thread finished
  // anything (they block rather than compute) adds one thread. Busy threads that keep finishing
  // work get no company, so a burst of load does not become a burst of threads.
  static void monitor(std::shared_ptr<Core> core) {
    pthread_setname_np(pthread_self(), "xpc-monitor");
    std::unique_lock lock(core->mutex);
    uint64_t seen = core->completions;
    while (!core->stopping && core->idle == 0 && core->threads < core->options.maxThreads) {
      lock.unlock();
      std::this_thread::sleep_for(kStallInterval);
      lock.lock();
      if (core->idle > 0 || core->stopping) {
        break;
      }
      if (core->completions == seen && core->hasWaitingWorkLocked()) {
        ++core->threads;
        ++core->idle;
        lock.unlock();
        startThread(core);
        lock.lock();
      }
      seen = core->completions;
    }
    core->monitoring = false;
  }

  static void startMonitor(const std::shared_ptr<Core>& core) {
    try {
      std::thread(monitor, core).detach();
    } catch (const std::system_error&) {
      std::lock_guard lock(core->mutex);
      core->monitoring = false;
      reportUnexpected("could not start the monitor thread");
    }
  }

  static void startThread(const std::shared_ptr<Core>& core) {
    try {
      std::thread(run, core).detach();
    } catch (const std::system_error&) {
      std::lock_guard lock(core->mutex);
      --core->threads;
      --core->idle;
      reportUnexpected("could not start a thread");
    }
  }

  void rearmTasksLocked() {
    epoll_event event{};
    event.events = EPOLLIN | EPOLLONESHOT;
    event.data.u64 = kTaskToken;
    ::epoll_ctl(epoll.get(), EPOLL_CTL_MOD, taskEvent.get(), &event);
  }

  // Takes one queued task; resets the event once the queue is empty. Under the lock, so the
  // event is set exactly while tasks are queued.
  Task popTaskLocked() {
    if (tasks.empty()) {
      return Task();
    }
    Task task = std::move(tasks.front());
    tasks.pop_front();
    if (tasks.empty()) {
      uint64_t count;
      [[maybe_unused]] ssize_t ignored = ::read(taskEvent.get(), &count, sizeof(count));
    }
    return task;
  }

  static void runTask(Task& task) noexcept {
    try {
      task();
    } catch (const std::exception& error) {
      reportUnexpected(error.what());
    } catch (...) {
      reportUnexpected("a task threw");
    }
  }

  static void run(std::shared_ptr<Core> core) {
    pthread_setname_np(pthread_self(), "xpc-worker");
    const int timeout = static_cast<int>(core->options.idleTimeout.count());
    Task next; // a queued task taken on the way back from the last one
    while (true) {
      Task task = std::move(next);
      next = Task();
      std::shared_ptr<EventSource> source;
      epoll_event event{};
      Start spawn = Start::nothing;
      if (!task) {
        const int ready = ::epoll_wait(core->epoll.get(), &event, 1, timeout);
        if (ready < 0 && errno != EINTR) {
          reportUnexpected("epoll_wait failed");
        }
        std::unique_lock lock(core->mutex);
        if (core->stopping) {
          task = core->popTaskLocked();
          if (!task) {
            --core->threads;
            --core->idle;
            return;
          }
        } else if (ready <= 0) {
          // Retire when another thread still waits, or when there is nothing to wait for.
          const bool othersWait = core->idle > 1;
          const bool nothingToServe = core->sources.empty() && core->tasks.empty();
          if (ready == 0 && (othersWait || nothingToServe)) {
            --core->threads;
            --core->idle;
            const bool lastOfBurst = core->threads <= 1;
            lock.unlock();
            if (lastOfBurst) {
              // The last extra thread of a burst retires: give the memory the burst used back
              // to the system rather than keep it for the next one.
              ::malloc_trim(0);
            }
            return;
          }
          continue;
        } else if (event.data.u64 == kTaskToken) {
          task = core->popTaskLocked();
          core->rearmTasksLocked();
        } else if (event.data.u64 != kStopToken) {
          auto found = core->sources.find(event.data.u64);
          if (found != core->sources.end()) {
            source = found->second;
          }
        }
        if (!task && !source) {
          continue;
        }
        --core->idle;
        spawn = core->reserveThreadLocked();
      }
      start(core, spawn);
      if (task) {
        runTask(task);
        task = Task();
      } else {
        try {
          source->handleReadiness(event.events);
        } catch (const std::exception& error) {
          reportUnexpected(error.what());
        }
        source.reset();
      }
      std::lock_guard lock(core->mutex);
      ++core->completions;
      // Queued tasks come before new socket events: work already taken on (a call read, a
      // connection's end) must not starve behind sockets that are always ready, or its memory
      // and descriptors pile up under load.
      if (!core->stopping && !core->tasks.empty()) {
        next = core->popTaskLocked();
      } else {
        ++core->idle;
      }
    }
  }
};

std::shared_ptr<WorkerPool> WorkerPool::create(Options options) {
  auto core = std::make_shared<Core>();
  core->options = options;
  if (core->options.maxThreads == 0) {
    core->options.maxThreads = 1;
  }
  core->busyLimit = std::max<size_t>(kMinimumBusyLimit, 2 * std::thread::hardware_concurrency());
  core->epoll.reset(::epoll_create1(EPOLL_CLOEXEC));
  core->taskEvent.reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  core->stopEvent.reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!core->epoll || !core->taskEvent || !core->stopEvent) {
    throw std::system_error(errno, std::generic_category(), "WorkerPool");
  }
  epoll_event taskEvent{};
  taskEvent.events = EPOLLIN | EPOLLONESHOT;
  taskEvent.data.u64 = kTaskToken;
  epoll_event stopEvent{};
  stopEvent.events = EPOLLIN;
  stopEvent.data.u64 = kStopToken;
  if (::epoll_ctl(core->epoll.get(), EPOLL_CTL_ADD, core->taskEvent.get(), &taskEvent) != 0 ||
      ::epoll_ctl(core->epoll.get(), EPOLL_CTL_ADD, core->stopEvent.get(), &stopEvent) != 0) {
    throw std::system_error(errno, std::generic_category(), "WorkerPool");
  }
  return std::shared_ptr<WorkerPool>(new WorkerPool(std::move(core)));
}

const std::shared_ptr<WorkerPool>& WorkerPool::shared() {
  // Leaked on purpose: pool threads may still run while static destructors do.
  static auto* pool = new std::shared_ptr<WorkerPool>(create());
  return *pool;
}

WorkerPool::WorkerPool(std::shared_ptr<Core> core) : core_(std::move(core)) {}

WorkerPool::~WorkerPool() {
  std::unordered_map<uint64_t, std::shared_ptr<EventSource>> sources;
  {
    std::lock_guard lock(core_->mutex);
    core_->stopping = true;
    sources.swap(core_->sources);
  }
  const uint64_t one = 1;
  [[maybe_unused]] ssize_t ignored = ::write(core_->stopEvent.get(), &one, sizeof(one));
  // Threads hold the core and let it go as they leave.
}

void WorkerPool::dispatch(Task task) {
  Core::Start spawn;
  {
    std::lock_guard lock(core_->mutex);
    if (core_->tasks.empty()) {
      const uint64_t one = 1;
      [[maybe_unused]] ssize_t ignored = ::write(core_->taskEvent.get(), &one, sizeof(one));
    }
    core_->tasks.push_back(std::move(task));
    spawn = core_->reserveThreadLocked();
  }
  Core::start(core_, spawn);
}

bool WorkerPool::addSource(int fd, std::shared_ptr<EventSource> source, NSError* error) {
  Core::Start spawn;
  uint64_t token;
  {
    std::lock_guard lock(core_->mutex);
    token = core_->nextToken++;
    source->watchedFd_ = fd;
    source->token_ = token;
    core_->sources.emplace(token, source);
    epoll_event event{};
    event.events = kSourceEvents;
    event.data.u64 = token;
    if (::epoll_ctl(core_->epoll.get(), EPOLL_CTL_ADD, fd, &event) != 0) {
      const int failure = errno;
      core_->sources.erase(token);
      setError(error, makeTransportError(TransportErrorCode::ioFailure,
                                         "Could not watch the socket.", failure));
      return false;
    }
    spawn = core_->reserveThreadLocked();
  }
  Core::start(core_, spawn);
  return true;
}

void WorkerPool::rearm(const EventSource& source, uint32_t events) {
  epoll_event event{};
  event.events = events | EPOLLONESHOT;
  event.data.u64 = source.token_;
  ::epoll_ctl(core_->epoll.get(), EPOLL_CTL_MOD, source.watchedFd_, &event);
}

std::shared_ptr<EventSource> WorkerPool::removeSource(const EventSource& source) {
  std::lock_guard lock(core_->mutex);
  auto found = core_->sources.find(source.token_);
  if (found == core_->sources.end()) {
    return nullptr;
  }
  ::epoll_ctl(core_->epoll.get(), EPOLL_CTL_DEL, source.watchedFd_, nullptr);
  auto removed = std::move(found->second);
  core_->sources.erase(found);
  return removed;
}

size_t WorkerPool::threadCount() const {
  std::lock_guard lock(core_->mutex);
  return core_->threads;
}

bool WorkerPool::isQuiescentForTest() const {
  std::lock_guard lock(core_->mutex);
  return core_->tasks.empty() && core_->idle == core_->threads;
}

size_t WorkerPool::sourceCount() const {
  std::lock_guard lock(core_->mutex);
  return core_->sources.size();
}

} // namespace platform::xpc
