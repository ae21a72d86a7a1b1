#include "platform/foundation/UUID.h"

#include "platform/posix/RetryOnInterrupt.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <pthread.h>
#include <stdexcept>
#include <sys/random.h>

namespace platform {
namespace {

int hexDigit(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  return -1;
}

bool isHyphenPosition(size_t index) {
  return index == 8 || index == 13 || index == 18 || index == 23;
}

// Bumped in every child of a fork, so that a child never hands out the random bytes that its
// parent's buffers still hold.
std::atomic<uint64_t> forkGeneration{0};

void fillFromKernel(uint8_t* data, size_t size) {
  size_t filled = 0;
  while (filled < size) {
    const ssize_t got =
        posix::retryOnInterrupt([&] { return getrandom(data + filled, size - filled, 0); });
    if (got < 0) {
      throw std::runtime_error("getrandom failed");
    }
    filled += static_cast<size_t>(got);
  }
}

// Identifiers are made for every message, so the kernel's random bytes are fetched a few
// hundred at a time per thread rather than with a system call each.
void fillRandom(UUID::Bytes& bytes) {
  struct Pool {
    std::array<uint8_t, 512> data;
    size_t used = 512;
    uint64_t generation = 0;
  };
  static const bool registered = [] {
    ::pthread_atfork(nullptr, nullptr, [] { forkGeneration.fetch_add(1); });
    return true;
  }();
  (void)registered;
  thread_local Pool pool;
  const uint64_t generation = forkGeneration.load(std::memory_order_relaxed);
  if (pool.used + bytes.size() > pool.data.size() || pool.generation != generation) {
    fillFromKernel(pool.data.data(), pool.data.size());
    pool.used = 0;
    pool.generation = generation;
  }
  std::memcpy(bytes.data(), pool.data.data() + pool.used, bytes.size());
  // Bytes handed out are wiped, so that no later reader of this memory learns an identifier.
  std::memset(pool.data.data() + pool.used, 0, bytes.size());
  pool.used += bytes.size();
}

} // namespace

UUID::UUID() {
  fillRandom(bytes_);
  bytes_[6] = static_cast<uint8_t>((bytes_[6] & 0x0F) | 0x40);
  bytes_[8] = static_cast<uint8_t>((bytes_[8] & 0x3F) | 0x80);
}

std::optional<UUID> UUID::fromString(std::string_view text) {
  if (text.size() != 36) {
    return std::nullopt;
  }
  Bytes bytes{};
  size_t nibble = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (isHyphenPosition(i)) {
      if (text[i] != '-') {
        return std::nullopt;
      }
      continue;
    }
    int value = hexDigit(text[i]);
    if (value < 0) {
      return std::nullopt;
    }
    bytes[nibble / 2] =
        static_cast<uint8_t>(bytes[nibble / 2] | (nibble % 2 == 0 ? value << 4 : value));
    ++nibble;
  }
  return UUID(bytes);
}

std::string UUID::uuidString() const {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(36);
  for (size_t i = 0; i < bytes_.size(); ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) {
      out.push_back('-');
    }
    out.push_back(kHex[bytes_[i] >> 4]);
    out.push_back(kHex[bytes_[i] & 0xF]);
  }
  return out;
}

} // namespace platform
