#pragma once

namespace agentctl {

// Sends `count` health checks over one connection, one after another, and prints the median
// and 99th-percentile round trips in microseconds and the checks that failed
// ("median_us=X p99_us=Y failures=N"), then with `printSamples` each round trip on a line of
// its own; the first check, which connects, is not counted. A failed check is reported and
// the run goes on. Gives the exit code: that of the first failure, if any.
int repeatHealthChecks(int count, bool printSamples);

} // namespace agentctl
