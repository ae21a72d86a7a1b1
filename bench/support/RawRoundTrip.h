#pragma once

// The raw peer of the round-trip benchmarks: a ping-pong of fixed-size messages over Unix
// socketpairs (blocking read and write, one thread per end), and the statistics they share.

#include <chrono>
#include <cstddef>
#include <vector>

namespace bench {

using Clock = std::chrono::steady_clock;

struct Measurement {
  double p50Microseconds = 0;
  double messagesPerSecond = 0;
  double p99Microseconds = 0;
  double maxMicroseconds = 0;
};

// The median latency and the throughput of a set of round trips that took `elapsed` in all.
Measurement summarize(std::vector<double>& latencies, Clock::duration elapsed);
// The median of one field over several rounds.
double median(std::vector<Measurement> rounds, double Measurement::*field);
// The median of several samples.
double median(std::vector<double> samples);
double microsecondsSince(Clock::time_point start);
// `callers` threads, each with its own socketpair and echo thread, doing `iterations` round
// trips of `messageSize` bytes at once.
Measurement measureRaw(int callers, int iterations, std::size_t messageSize = 200);
// One caller and an echo in a forked child process: the floor of any round trip between two
// programs, which pays the switch between address spaces that threads of one process do not.
Measurement measureRawBetweenProcesses(int iterations, std::size_t messageSize = 200);

} // namespace bench
