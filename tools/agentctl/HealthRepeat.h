#pragma once

namespace agentctl {

// Sends `count` health checks over one connection, one after another, and prints the median
// round trip in microseconds ("median_us=X"); the first check, which connects, is not counted.
// Gives the exit code.
int repeatHealthChecks(int count);

} // namespace agentctl
