#include "HealthRepeat.h"

#include "AgentClient.h"
#include "ExitCode.h"
#include "FailureReport.h"
#include "api/HealthCheckRequest.h"
#include "api/PrivilegedOperationError.h"
#include "ipc/Result.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace agentctl {

int repeatHealthChecks(int count, bool printSamples) {
  using Reply = ipc::Result<api::HealthCheckResponse, api::PrivilegedOperationError>;
  auto diagnosis = std::make_shared<StartDiagnosis>();
  auto client = makeAgentClient(diagnosis);
  std::vector<double> microseconds;
  microseconds.reserve(static_cast<size_t>(count));
  int failures = 0;
  int exitCode = kSucceeded;
  for (int check = 0; check <= count; ++check) {
    const auto sent = std::chrono::steady_clock::now();
    try {
      client->sendAndWait<api::HealthCheckRequest, Reply>(api::HealthCheckRequest{});
    } catch (...) {
      if (check == 0) {
        return reportFailure(std::current_exception(), *diagnosis); // could not even connect
      }
      // Counted, and the first one reported; the run goes on so that the count is whole.
      if (failures++ == 0) {
        exitCode = reportFailure(std::current_exception(), *diagnosis);
      }
      continue;
    }
    if (check > 0) {
      microseconds.push_back(
          std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - sent)
              .count());
    }
  }
  std::vector<double> sorted = microseconds;
  std::sort(sorted.begin(), sorted.end());
  auto percentile = [&](size_t perMille) {
    return sorted.empty() ? 0.0
                          : sorted[std::min(sorted.size() - 1, sorted.size() * perMille / 1000)];
  };
  std::printf("median_us=%.1f p99_us=%.1f failures=%d\n", percentile(500), percentile(990),
              failures);
  if (printSamples) {
    for (double sample : microseconds) {
      std::printf("%.1f\n", sample);
    }
  }
  return exitCode;
}

} // namespace agentctl
