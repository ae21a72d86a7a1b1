// Encoding plus decoding of one simple-request message (a FileSizeRequest payload) through the
// transport encoder, against nlohmann::json's own dump and parse of the same JSON document.

#include "api/FileSizeRequest.h"
#include "ipc/XPCMessageJSONEncoder.h"
#include "ipc/XPCMessageMapper.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>

namespace {

// Keeps the optimiser from dropping a result.
template <class T> void keep(const T& value) {
  asm volatile("" : : "g"(&value) : "memory");
}

// Nanoseconds per call of `operation`: the best of several rounds, so that a busy neighbour on the
// machine skews the figure less.
template <class Operation> double nanosecondsPerOperation(Operation&& operation) {
  constexpr int kRounds = 15;
  constexpr int kIterations = 20000;
  double best = 1e18;
  for (int round = 0; round < kRounds; ++round) {
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kIterations; ++i) {
      operation();
    }
    std::chrono::duration<double, std::nano> elapsed = std::chrono::steady_clock::now() - start;
    best = std::min(best, elapsed.count() / kIterations);
  }
  return best;
}

} // namespace

int main() {
  api::FileSizeRequest request{
      *platform::URL::fromString("file:///Users/someone/Library/Caches/com.example.app/data.db")};
  const ipc::XPCMessage message = ipc::XPCMessageMapper().makeMessage(request);
  const ipc::XPCMessageJSONEncoder encoder;

  platform::Bytes wire = encoder.encode(message);
  const nlohmann::json document = nlohmann::json::parse(wire.begin(), wire.end());

  auto ours = [&] {
    platform::Bytes bytes = encoder.encode(message);
    ipc::XPCMessage back = encoder.decode(bytes);
    keep(back);
  };
  auto peer = [&] {
    std::string text = document.dump();
    nlohmann::json back = nlohmann::json::parse(text);
    keep(back);
  };

  // Warm up both, then measure them interleaved in the same run.
  nanosecondsPerOperation(ours);
  nanosecondsPerOperation(peer);
  double oursNs = nanosecondsPerOperation(ours);
  double peerNs = nanosecondsPerOperation(peer);
  oursNs = std::min(oursNs, nanosecondsPerOperation(ours));
  peerNs = std::min(peerNs, nanosecondsPerOperation(peer));

  std::printf("message_codec: ours=%.0f peer=%.0f ratio=%.2f\n", oursNs, peerNs, oursNs / peerNs);
  return 0;
}
