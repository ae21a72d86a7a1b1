// Abuse of the agent's resources by a peer that never completes a handshake, for the
// end-to-end tests and the load benchmark. Each attack is bounded and prints one summary line.
//
//   abuse-attacks unread SOCKET CALLS
//     One connection sends CALLS health checks and never reads a reply; ends when the agent
//     closes the connection (at most 20 s).
//   abuse-attacks oversized SOCKET COUNT
//     COUNT connections each declare a 64 MiB frame and send 1 MiB of it.
//   abuse-attacks idle SOCKET COUNT MILLISECONDS
//     COUNT connections that send nothing, held for MILLISECONDS.
//   abuse-attacks garbage SOCKET COUNT
//     COUNT connections that each send 4 KiB of random bytes.
//   abuse-attacks all SOCKET SECONDS
//     The four attacks above side by side, each repeated in a loop, for SECONDS.
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <random>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kHealthCheck =
    R"({"binaryPayload":{"data":"e30=","encodedType":"HealthCheckRequest"},"flags":4,"version":1})";

int usage() {
  std::fprintf(stderr, "usage: abuse-attacks unread SOCKET CALLS\n"
                       "       abuse-attacks oversized SOCKET COUNT\n"
                       "       abuse-attacks idle SOCKET COUNT MILLISECONDS\n"
                       "       abuse-attacks garbage SOCKET COUNT\n"
                       "       abuse-attacks all SOCKET SECONDS\n");
  return 2;
}

int connectTo(const std::string& path) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
  if (fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

void appendLittleEndian(std::vector<uint8_t>& out, uint64_t value, int bytes) {
  for (int index = 0; index < bytes; ++index) {
    out.push_back(static_cast<uint8_t>(value >> (8 * index)));
  }
}

// A frame header: magic, version 1, KIND, no descriptors, PAYLOAD bytes, CALL id.
std::vector<uint8_t> frameHeader(uint8_t kind, uint32_t payload, uint64_t call) {
  std::vector<uint8_t> header{'X', 'P', 'C', 'F', 1, kind};
  appendLittleEndian(header, 0, 2);
  appendLittleEndian(header, payload, 4);
  appendLittleEndian(header, 0, 4);
  appendLittleEndian(header, call, 8);
  return header;
}

// Writes until done or the agent refuses more; false when the connection broke.
bool sendAll(int fd, const std::vector<uint8_t>& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t sent = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) {
      continue;
    }
    if (sent <= 0) {
      return false;
    }
    done += static_cast<size_t>(sent);
  }
  return true;
}

// Waits up to `limit` for the agent to close `fd`, never reading it.
bool waitClosed(int fd, std::chrono::milliseconds limit) {
  pollfd poller{fd, POLLRDHUP, 0};
  return ::poll(&poller, 1, static_cast<int>(limit.count())) > 0 &&
         (poller.revents & (POLLHUP | POLLERR | POLLRDHUP)) != 0;
}

// One connection, CALLS health checks, no read. Gives whether the agent closed it.
bool unread(const std::string& path, int calls) {
  const int fd = connectTo(path);
  if (fd < 0) {
    return false;
  }
  const std::string payload = kHealthCheck;
  std::vector<uint8_t> burst;
  for (int call = 1; call <= calls; ++call) {
    auto header =
        frameHeader(1, static_cast<uint32_t>(payload.size()), static_cast<uint64_t>(call));
    burst.insert(burst.end(), header.begin(), header.end());
    burst.insert(burst.end(), payload.begin(), payload.end());
  }
  sendAll(fd, burst); // blocks while the agent leaves the calls unread
  const bool closed = waitClosed(fd, std::chrono::seconds(20));
  ::close(fd);
  return closed;
}

// One connection that sends `bytes`; whether the agent closed it (it refused the bytes, or
// closed the connection within 10 s).
bool closedAfterSending(const std::string& path, const std::vector<uint8_t>& bytes) {
  const int fd = connectTo(path);
  if (fd < 0) {
    return false;
  }
  const bool closed = !sendAll(fd, bytes) || waitClosed(fd, std::chrono::seconds(10));
  ::close(fd);
  return closed;
}

// Connections that each declare a 64 MiB frame and send 1 MiB of it. Gives those the agent
// closed.
int oversized(const std::string& path, int count) {
  std::vector<uint8_t> partial = frameHeader(1, 64u << 20, 1);
  partial.resize(partial.size() + (1u << 20), 'x');
  int closed = 0;
  for (int index = 0; index < count; ++index) {
    closed += closedAfterSending(path, partial) ? 1 : 0;
  }
  return closed;
}

int idle(const std::string& path, int count, std::chrono::milliseconds hold) {
  std::vector<int> held;
  for (int index = 0; index < count; ++index) {
    if (const int fd = connectTo(path); fd >= 0) {
      held.push_back(fd);
    }
  }
  std::this_thread::sleep_for(hold);
  for (int fd : held) {
    ::close(fd);
  }
  return static_cast<int>(held.size());
}

int garbage(const std::string& path, int count) {
  std::mt19937 random(static_cast<unsigned>(::getpid()));
  std::vector<uint8_t> noise(4096);
  int closed = 0;
  for (int index = 0; index < count; ++index) {
    for (auto& byte : noise) {
      byte = static_cast<uint8_t>(random());
    }
    closed += closedAfterSending(path, noise) ? 1 : 0;
  }
  return closed;
}

// The four attacks in loops of their own until `seconds` have passed.
int all(const std::string& path, int seconds) {
  const auto end = Clock::now() + std::chrono::seconds(seconds);
  std::atomic<int> rounds[4] = {0, 0, 0, 0};
  auto loop = [&](int slot, auto attack) {
    return std::thread([&, slot, attack] {
      while (Clock::now() < end) {
        attack();
        ++rounds[slot];
      }
    });
  };
  std::thread threads[] = {
      loop(0, [&] { unread(path, 20'000); }),
      loop(1, [&] { oversized(path, 8); }),
      loop(2, [&] { idle(path, 100, std::chrono::milliseconds(500)); }),
      loop(3, [&] { garbage(path, 10); }),
  };
  for (auto& thread : threads) {
    thread.join();
  }
  std::printf("all: unread=%d oversized=%d idle=%d garbage=%d rounds\n", rounds[0].load(),
              rounds[1].load(), rounds[2].load(), rounds[3].load());
  return 0;
}

} // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    return usage();
  }
  const std::string mode = argv[1];
  const std::string path = argv[2];
  const int number = std::atoi(argv[3]);
  if (mode == "unread") {
    const bool closed = unread(path, number);
    std::printf("unread: %d calls sent, connection %s\n", number,
                closed ? "closed by the agent" : "still open");
    return closed ? 0 : 1;
  }
  if (mode == "oversized") {
    std::printf("oversized: %d of %d connections closed by the agent\n", oversized(path, number),
                number);
    return 0;
  }
  if (mode == "idle" && argc == 5) {
    std::printf("idle: %d connections held\n",
                idle(path, number, std::chrono::milliseconds(std::atoi(argv[4]))));
    return 0;
  }
  if (mode == "garbage") {
    std::printf("garbage: %d of %d connections closed by the agent\n", garbage(path, number),
                number);
    return 0;
  }
  if (mode == "all") {
    return all(path, number);
  }
  return usage();
}
