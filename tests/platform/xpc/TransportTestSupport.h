#pragma once

#include "platform/foundation/Base64.h"
#include "platform/xpc/Frame.h"
#include "platform/xpc/UniqueFd.h"

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <filesystem>
#include <functional>
#include <mutex>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace platform::xpc::test {

// A private directory for socket files, removed with everything in it.
class TempDirectory {
public:
  TempDirectory() {
    char pattern[] = "/tmp/xpc_tests.XXXXXX";
    path_ = ::mkdtemp(pattern);
  }
  ~TempDirectory() { std::filesystem::remove_all(path_); }
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
  std::string path_;
};

// A one-shot signal that tests wait on with a deadline.
class Signal {
public:
  void fire() {
    std::lock_guard lock(mutex_);
    ++count_;
    condition_.notify_all();
  }
  bool waitFor(int times = 1, std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    std::unique_lock lock(mutex_);
    return condition_.wait_for(lock, limit, [&] { return count_ >= times; });
  }
  int count() {
    std::lock_guard lock(mutex_);
    return count_;
  }

private:
  std::mutex mutex_;
  std::condition_variable condition_;
  int count_ = 0;
};

inline bool waitUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds limit = std::chrono::seconds(5)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

inline size_t countEntries(const char* directory) {
  size_t count = 0;
  if (DIR* listing = ::opendir(directory)) {
    while (dirent* entry = ::readdir(listing)) {
      count += entry->d_name[0] != '.';
    }
    ::closedir(listing);
  }
  return count;
}
inline size_t openDescriptorCount() {
  return countEntries("/proc/self/fd");
}
inline size_t threadCount() {
  return countEntries("/proc/self/task");
}

// A peer that speaks raw bytes, for feeding the transport what a real client never would.
inline UniqueFd rawConnect(const std::string& path) {
  UniqueFd socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
  if (::connect(socket.get(), reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
    return UniqueFd();
  }
  return socket;
}

inline std::vector<uint8_t> frameBytes(FrameKind kind, uint64_t callId, const std::string& payload,
                                       uint16_t descriptorCount = 0) {
  std::vector<uint8_t> bytes(kFrameHeaderSize);
  encodeFrameHeader(
      FrameHeader{kind, descriptorCount, static_cast<uint32_t>(payload.size()), callId},
      bytes.data());
  bytes.insert(bytes.end(), payload.begin(), payload.end());
  return bytes;
}

inline bool writeAll(int fd, const std::vector<uint8_t>& bytes) {
  return ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
}

// Sends `bytes` with `descriptors` attached to their first byte.
inline bool sendWithDescriptors(int fd, const std::vector<uint8_t>& bytes,
                                const std::vector<int>& descriptors) {
  iovec vector{const_cast<uint8_t*>(bytes.data()), bytes.size()};
  std::vector<uint8_t> control(CMSG_SPACE(sizeof(int) * descriptors.size()));
  msghdr message{};
  message.msg_iov = &vector;
  message.msg_iovlen = 1;
  message.msg_control = control.data();
  message.msg_controllen = control.size();
  cmsghdr* rights = CMSG_FIRSTHDR(&message);
  rights->cmsg_level = SOL_SOCKET;
  rights->cmsg_type = SCM_RIGHTS;
  rights->cmsg_len = CMSG_LEN(sizeof(int) * descriptors.size());
  std::memcpy(CMSG_DATA(rights), descriptors.data(), sizeof(int) * descriptors.size());
  return ::sendmsg(fd, &message, MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
}

// Whether the peer closed `fd` within the limit (reads until end of stream).
inline bool peerClosesWithin(int fd, std::chrono::milliseconds limit = std::chrono::seconds(5)) {
  timeval timeout{static_cast<time_t>(limit.count() / 1000),
                  static_cast<suseconds_t>((limit.count() % 1000) * 1000)};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
  char buffer[256];
  while (true) {
    const ssize_t got = ::recv(fd, buffer, sizeof(buffer), 0);
    if (got == 0) {
      return true;
    }
    if (got < 0) {
      return errno == ECONNRESET;
    }
  }
}

// Blocks until `fd` has input (or a second passed), so polling loops do not spin.
inline void waitReadable(int fd) {
  pollfd poller{fd, POLLIN, 0};
  ::poll(&poller, 1, 1000);
}

inline Bytes bytesOf(const std::string& text) {
  return Bytes(text.begin(), text.end());
}
inline std::string textOf(const Bytes& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

} // namespace platform::xpc::test
