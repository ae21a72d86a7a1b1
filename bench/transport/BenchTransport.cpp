// Round trips of a health-check-sized message over the transport, against a raw ping-pong of
// the same bytes over socketpairs (blocking read/write, one thread per end), in the same run.
// One caller uses the blocking call (its thread reads its own reply); transport_rtt_1_async
// shows the asynchronous call, whose reply handler wakes the caller (one more hand-over
// between threads). Sixteen callers share one connection through the asynchronous call, the
// way the engine multiplexes a connection.

#include "RawRoundTrip.h"
#include "platform/xpc/Connection.h"
#include "platform/xpc/Listener.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace xpc = platform::xpc;
using bench::Clock;
using bench::Measurement;
using bench::measureRaw;
using bench::median;
using bench::microsecondsSince;
using bench::summarize;

namespace {

constexpr size_t kMessageSize = 200;

// One call through the blocking API: the caller reads its reply itself when it can.
bool roundTrip(xpc::Connection& connection, const platform::Bytes& payload) {
  return connection.sendWithReplyAndWait(xpc::Message{payload, {}}, std::chrono::seconds(10))
      .has_value();
}

// One call through the asynchronous API: the caller sleeps until the reply handler, run by a
// pool thread, wakes it.
bool asyncRoundTrip(xpc::Connection& connection, const platform::Bytes& payload) {
  std::atomic<int> state{0};
  connection.sendWithReply(xpc::Message{payload, {}}, [&state](std::optional<xpc::Message> reply) {
    state.store(reply ? 1 : 2, std::memory_order_release);
    state.notify_one();
  });
  int seen;
  while ((seen = state.load(std::memory_order_acquire)) == 0) {
    state.wait(0, std::memory_order_acquire);
  }
  return seen == 1;
}

Measurement measureOurs(xpc::Connection& connection, int callers, int iterations,
                        bool async = false) {
  const platform::Bytes payload(kMessageSize, '{');
  std::vector<std::vector<double>> latencies(callers);
  std::atomic<int> ready{0};
  std::atomic<bool> go{false};
  std::vector<std::thread> callerThreads;
  for (int index = 0; index < callers; ++index) {
    callerThreads.emplace_back([&, index] {
      latencies[index].reserve(iterations);
      ready.fetch_add(1);
      while (!go.load()) {
        std::this_thread::yield();
      }
      for (int iteration = 0; iteration < iterations; ++iteration) {
        const auto sent = Clock::now();
        if (!(async ? asyncRoundTrip(connection, payload) : roundTrip(connection, payload))) {
          std::fprintf(stderr, "call failed\n");
          std::exit(1);
        }
        latencies[index].push_back(microsecondsSince(sent));
      }
    });
  }
  while (ready.load() < callers) {
    std::this_thread::yield();
  }
  const auto start = Clock::now();
  go.store(true);
  for (auto& thread : callerThreads) {
    thread.join();
  }
  const auto elapsed = Clock::now() - start;
  std::vector<double> all;
  for (auto& list : latencies) {
    all.insert(all.end(), list.begin(), list.end());
  }
  return summarize(all, elapsed);
}

} // namespace

int main() {
  char directoryTemplate[] = "/tmp/bench_transport.XXXXXX";
  if (::mkdtemp(directoryTemplate) == nullptr) {
    std::perror("mkdtemp");
    return 1;
  }
  const std::string directory = directoryTemplate;
  // Two pools, as two processes would have.
  xpc::TransportOptions serverOptions;
  serverOptions.pool = xpc::WorkerPool::create();
  xpc::TransportOptions clientOptions;
  clientOptions.pool = xpc::WorkerPool::create();

  xpc::Listener listener(directory + "/service", serverOptions);
  std::mutex acceptedMutex;
  std::vector<std::shared_ptr<xpc::Connection>> accepted;
  listener.setConnectionHandler([&](std::shared_ptr<xpc::Connection> connection) {
    connection->setIncomingCallHandler(
        [](xpc::Message message, xpc::Reply reply) { reply(std::move(message)); });
    connection->activate();
    std::lock_guard lock(acceptedMutex);
    accepted.push_back(std::move(connection));
  });
  platform::NSError error;
  if (!listener.activate(&error)) {
    std::fprintf(stderr, "listen: %s\n", error.localizedDescription().c_str());
    return 1;
  }
  auto connection = xpc::Connection::connectToPath(
      directory + "/service", xpc::PeerRequirement::any, clientOptions, &error);
  if (!connection) {
    std::fprintf(stderr, "connect: %s\n", error.localizedDescription().c_str());
    return 1;
  }
  connection->activate();

  measureOurs(*connection, 1, 2000); // warm up both pools
  measureRaw(1, 2000);
  // BENCH_PROFILE=1 or 16 runs only our side of that case, so that a profiler or `perf stat`
  // sees nothing else.
  if (const char* only = std::getenv("BENCH_PROFILE")) {
    const bool single = std::string_view(only) == "1";
    const Measurement ours =
        single ? measureOurs(*connection, 1, 50000) : measureOurs(*connection, 16, 5000, true);
    std::printf("profile: p50=%.1f p99=%.1f max=%.1f rate=%.0f\n", ours.p50Microseconds,
                ours.p99Microseconds, ours.maxMicroseconds, ours.messagesPerSecond);
    std::filesystem::remove_all(directory);
    std::fflush(stdout); // _Exit does not flush, and a pipe buffers the line
    std::_Exit(0);
  }
  // Alternate the two sides over several rounds and keep the median round of each, so that a
  // burst of load on the machine does not land on one side only.
  constexpr int kRounds = 5;
  std::vector<Measurement> raw1s, ours1s, async1s, raw16s, ours16s;
  for (int round = 0; round < kRounds; ++round) {
    raw1s.push_back(measureRaw(1, 5000));
    ours1s.push_back(measureOurs(*connection, 1, 5000));
    async1s.push_back(measureOurs(*connection, 1, 5000, true));
    raw16s.push_back(measureRaw(16, 500));
    ours16s.push_back(measureOurs(*connection, 16, 500, true));
  }
  const Measurement raw1{median(raw1s, &Measurement::p50Microseconds), 0};
  const Measurement ours1{median(ours1s, &Measurement::p50Microseconds), 0};
  const Measurement async1{median(async1s, &Measurement::p50Microseconds), 0};
  const Measurement raw16{median(raw16s, &Measurement::p50Microseconds),
                          median(raw16s, &Measurement::messagesPerSecond)};
  const Measurement ours16{median(ours16s, &Measurement::p50Microseconds),
                           median(ours16s, &Measurement::messagesPerSecond)};

  std::printf("transport_rtt_1: ours=%.1f peer=%.1f ratio=%.2f\n", ours1.p50Microseconds,
              raw1.p50Microseconds, ours1.p50Microseconds / raw1.p50Microseconds);
  std::printf("transport_rtt_1_async: ours=%.1f peer=%.1f ratio=%.2f\n", async1.p50Microseconds,
              raw1.p50Microseconds, async1.p50Microseconds / raw1.p50Microseconds);
  std::printf("transport_rtt_16: ours=%.1f peer=%.1f ratio=%.2f\n", ours16.p50Microseconds,
              raw16.p50Microseconds, ours16.p50Microseconds / raw16.p50Microseconds);
  std::printf("transport_throughput_16: ours=%.0f peer=%.0f ratio=%.2f\n", ours16.messagesPerSecond,
              raw16.messagesPerSecond, raw16.messagesPerSecond / ours16.messagesPerSecond);

  connection->invalidate();
  listener.invalidate();
  std::filesystem::remove_all(directory);
  return 0;
}
