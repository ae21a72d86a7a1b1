#include "tasks/homepage/KLVRunningApplicationController.h"

#include <algorithm>
#include <thread>

namespace tasks {
namespace {

// How often the terminated state is looked at while waiting.
constexpr std::chrono::milliseconds kPollInterval{20};
// The waiting time comes from a client's task: it is kept finite and within a day.
constexpr double kMaxWaitingSeconds = 86400;

double boundedWaitingTime(double seconds) {
  if (!(seconds > 0)) {
    return 0;
  }
  return std::min(seconds, kMaxWaitingSeconds);
}

} // namespace

KLVRunningApplicationController::KLVRunningApplicationController(
    std::string bundleIdentifier, double waitingTime,
    std::shared_ptr<platform::Workspace> workspace)
    : bundleIdentifier_(std::move(bundleIdentifier)), waitingTime_(boundedWaitingTime(waitingTime)),
      workspace_(std::move(workspace)) {}

bool KLVRunningApplicationController::terminateForcefully() {
  auto applications = workspace_->runningApplicationsWithBundleIdentifier(bundleIdentifier_);
  for (const auto& application : applications) {
    application->forceTerminate();
  }
  const auto deadline =
      std::chrono::steady_clock::now() +
      std::chrono::duration_cast<std::chrono::steady_clock::duration>(waitingTime_);
  while (true) {
    const bool allTerminated =
        std::all_of(applications.begin(), applications.end(),
                    [](const auto& application) { return application->isTerminated(); });
    if (allTerminated) {
      return true;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      return false;
    }
    std::this_thread::sleep_for(kPollInterval);
  }
}

} // namespace tasks
