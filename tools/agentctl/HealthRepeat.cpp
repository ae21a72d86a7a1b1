#include "HealthRepeat.h"

#include "AgentClient.h"
#include "Await.h"
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

int repeatHealthChecks(int count) {
  using Reply = ipc::Result<api::HealthCheckResponse, api::PrivilegedOperationError>;
  auto diagnosis = std::make_shared<StartDiagnosis>();
  auto client = makeAgentClient(diagnosis);
  std::vector<double> microseconds;
  microseconds.reserve(static_cast<size_t>(count));
  for (int check = 0; check <= count; ++check) {
    const auto sent = std::chrono::steady_clock::now();
    auto outcome = await(client->send<api::HealthCheckRequest, Reply>(api::HealthCheckRequest{}),
                         std::chrono::seconds(10));
    if (outcome.error || outcome.values.empty()) {
      return reportFailure(outcome.error, *diagnosis);
    }
    if (check > 0) {
      microseconds.push_back(
          std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - sent)
              .count());
    }
  }
  std::sort(microseconds.begin(), microseconds.end());
  std::printf("median_us=%.1f\n",
              microseconds.empty() ? 0.0 : microseconds[microseconds.size() / 2]);
  return kSucceeded;
}

} // namespace agentctl
