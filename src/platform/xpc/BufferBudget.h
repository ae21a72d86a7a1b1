#pragma once

#include <atomic>
#include <cstddef>
#include <memory>

namespace platform::xpc {

// The bytes that all connections sharing it may hold in their buffers at once: replies queued
// for peers that read slowly or not at all, and large frames half received. A buffer that
// would overdraw it is refused, and its connection ends, so no set of peers can make the
// process hold more than the budget however many connections they open. Thread-safe.
class BufferBudget {
public:
  static constexpr size_t kDefaultCapacity = 384u * 1024u * 1024u;

  explicit BufferBudget(size_t capacity) : capacity_(capacity) {}
  BufferBudget(const BufferBudget&) = delete;
  BufferBudget& operator=(const BufferBudget&) = delete;

  // The budget of the whole process, kDefaultCapacity; never destroyed.
  static const std::shared_ptr<BufferBudget>& shared();

  // Takes `bytes`, or nothing and false when that would pass the capacity.
  bool tryTake(size_t bytes) {
    size_t used = used_.load(std::memory_order_relaxed);
    do {
      if (bytes > capacity_ - used) {
        return false;
      }
    } while (!used_.compare_exchange_weak(used, used + bytes, std::memory_order_relaxed));
    return true;
  }
  void give(size_t bytes) { used_.fetch_sub(bytes, std::memory_order_relaxed); }

  size_t used() const { return used_.load(std::memory_order_relaxed); }
  size_t capacity() const { return capacity_; }

private:
  const size_t capacity_;
  std::atomic<size_t> used_{0};
};

} // namespace platform::xpc
