// A health-check-sized simple request from the client engine to the server engine over the
// transport (handshake done once), on the lean path of both (sendAndWait, an immediate handler),
// against the raw socketpair round trip of the same size in the same run, with 1 and 16 concurrent
// clients. Lines: engine_rtt_1, engine_rtt_16 (median latency ratios) and engine_throughput_16
// (raw/ours).

#include "RawRoundTrip.h"
#include "api/PrivilegedOperationError.h"
#include "api/Requests.h"
#include "ipc/Result.h"
#include "ipc/XPCListener.h"
#include "ipc/client/XPCClientEngine.h"
#include "ipc/server/XPCServerEngine.h"

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string_view>
#include <thread>
#include <unistd.h>

namespace {

using bench::Clock;
using bench::Measurement;
using platform::reactive::AnyPublisher;
using platform::reactive::Completion;

// Waits for the one value (or the failure) of a publisher.
template <class T> bool awaitOne(const AnyPublisher<T>& publisher) {
  std::mutex mutex;
  std::condition_variable done;
  bool finished = false;
  bool ok = false;
  auto subscription = publisher.sink(
      [&](const Completion& completion) {
        std::lock_guard lock(mutex);
        ok = ok && completion.isFinished();
        finished = true;
        done.notify_one();
      },
      [&](const T&) {
        std::lock_guard lock(mutex);
        ok = true;
      });
  std::unique_lock lock(mutex);
  done.wait(lock, [&] { return finished; });
  return ok;
}

std::shared_ptr<ipc::XPCClientEngine> startedClient(const std::string& path) {
  auto client = ipc::XPCClientEngine::create(ipc::XPCClientEngine::Descriptor::anonymous(path), [] {
    ipc::HandshakePayload payload;
    payload.bundleURL = platform::URL::fileURLWithPath("/Applications/Bench.app");
    payload.bundleID = "com.example.bench";
    payload.version = "1.0";
    return payload;
  });
  if (!awaitOne(client->start())) {
    std::fprintf(stderr, "handshake failed\n");
    std::exit(1);
  }
  return client;
}

Measurement measureEngine(const std::vector<std::shared_ptr<ipc::XPCClientEngine>>& clients,
                          int iterations) {
  const int callers = static_cast<int>(clients.size());
  std::vector<std::vector<double>> latencies(callers);
  std::vector<std::thread> threads;
  const auto start = Clock::now();
  for (int index = 0; index < callers; ++index) {
    threads.emplace_back([&, index] {
      using Reply = ipc::Result<api::HealthCheckResponse, api::PrivilegedOperationError>;
      latencies[index].reserve(iterations);
      for (int iteration = 0; iteration < iterations; ++iteration) {
        const auto sent = Clock::now();
        try {
          clients[index]->sendAndWait<api::HealthCheckRequest, Reply>(api::HealthCheckRequest{});
        } catch (const std::exception& error) {
          std::fprintf(stderr, "health check failed: %s\n", error.what());
          std::exit(1);
        }
        latencies[index].push_back(bench::microsecondsSince(sent));
      }
    });
  }
  for (auto& thread : threads) {
    thread.join();
  }
  const auto elapsed = Clock::now() - start;
  std::vector<double> all;
  for (auto& list : latencies) {
    all.insert(all.end(), list.begin(), list.end());
  }
  return bench::summarize(all, elapsed);
}

} // namespace

int main() {
  char directoryTemplate[] = "/tmp/bench_engine.XXXXXX";
  if (::mkdtemp(directoryTemplate) == nullptr) {
    std::perror("mkdtemp");
    return 1;
  }
  const std::string directory = directoryTemplate;
  const std::string path = directory + "/service";
  {
    auto listener = std::make_unique<ipc::XPCListener>(
        std::make_unique<platform::xpc::Listener>(path, platform::xpc::TransportOptions{}),
        std::nullopt);
    auto engine = ipc::XPCServerEngine::create(
        {ipc::XPCServerEngine::ServerType::machService("bench"),
         ipc::ClientRequirement{std::make_shared<ipc::AlwaysRule>(true)}},
        std::move(listener));
    using Reply = ipc::Result<api::HealthCheckResponse, api::PrivilegedOperationError>;
    // As the agent registers its operations: answered at once, with no publisher per request.
    engine->registerImmediateHandler<api::HealthCheckRequest, Reply>(
        [](const api::HealthCheckRequest&, ipc::ConnectionID) {
          return Reply::success(api::HealthCheckResponse{platform::Date::now(), "5.3.1"});
        });
    engine->start();

    std::vector<std::shared_ptr<ipc::XPCClientEngine>> one{startedClient(path)};
    std::vector<std::shared_ptr<ipc::XPCClientEngine>> sixteen;
    for (int i = 0; i < 16; ++i) {
      sixteen.push_back(startedClient(path));
    }
    measureEngine(one, 500); // warm up
    // BENCH_PROFILE=1 or 16 runs only our side of that case, so that a profiler or `perf stat`
    // sees nothing else.
    if (const char* only = std::getenv("BENCH_PROFILE")) {
      const bool single = std::string_view(only) == "1";
      const Measurement ours = measureEngine(single ? one : sixteen, single ? 20000 : 2000);
      std::printf("profile: p50=%.1f p99=%.1f max=%.1f rate=%.0f\n", ours.p50Microseconds,
                  ours.p99Microseconds, ours.maxMicroseconds, ours.messagesPerSecond);
      std::filesystem::remove_all(directory);
      return 0;
    }
    bench::measureRaw(1, 500);
    constexpr int kRounds = 5;
    std::vector<Measurement> raw1s, ours1s, raw16s, ours16s;
    for (int round = 0; round < kRounds; ++round) {
      raw1s.push_back(bench::measureRaw(1, 2000));
      ours1s.push_back(measureEngine(one, 2000));
      raw16s.push_back(bench::measureRaw(16, 200));
      ours16s.push_back(measureEngine(sixteen, 200));
    }
    const double raw1 = bench::median(raw1s, &Measurement::p50Microseconds);
    const double ours1 = bench::median(ours1s, &Measurement::p50Microseconds);
    const double raw16 = bench::median(raw16s, &Measurement::p50Microseconds);
    const double ours16 = bench::median(ours16s, &Measurement::p50Microseconds);
    const double rawRate = bench::median(raw16s, &Measurement::messagesPerSecond);
    const double oursRate = bench::median(ours16s, &Measurement::messagesPerSecond);
    std::printf("engine_rtt_1: ours=%.1f peer=%.1f ratio=%.2f\n", ours1, raw1, ours1 / raw1);
    std::printf("engine_rtt_16: ours=%.1f peer=%.1f ratio=%.2f\n", ours16, raw16, ours16 / raw16);
    std::printf("engine_throughput_16: ours=%.0f peer=%.0f ratio=%.2f\n", oursRate, rawRate,
                rawRate / oursRate);
  }
  std::filesystem::remove_all(directory);
  return 0;
}
