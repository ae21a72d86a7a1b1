#include "tasks/processes/KLVTaskRunnerService.h"

#include "platform/foundation/ValidUTF8.h"
#include "tasks/model/PrivilegedAccessErrors.h"
#include "tasks/processes/KLVFreezeDetector.h"
#include "tasks/processes/KLVToolProcess.h"
#include "utilities/Log.h"

#include <chrono>
#include <exception>

namespace tasks {

using platform::NSError;

namespace {

// The runner's watchdog only reports a run that takes this long; it never stops the tool.
constexpr double kRunFreezeTimeout = 30;
// Limits beyond a year are as good as none, and keep the deadline arithmetic in range.
constexpr double kLongestTimeoutInterval = 365.0 * 24 * 3600;
// The platform's "user cancelled" error (NSUserCancelledError), for a run cancelled by its control.
constexpr int64_t kUserCancelledErrorCode = 3072;

std::optional<std::string> textOf(const std::optional<std::string>& bytes) {
  if (!bytes || !platform::isValidUTF8(*bytes)) {
    return std::nullopt;
  }
  return *bytes;
}

NSError runnerError(int64_t code, platform::UserInfo userInfo = {}) {
  return NSError(kKLVTaskRunnerServiceErrorDomain, code, std::move(userInfo));
}

NSError launchFailed(const NSError& cause) {
  return runnerError(kKLVTaskRunnerServiceLaunchFailed,
                     {{platform::NSUnderlyingErrorKey, std::make_shared<const NSError>(cause)}});
}

// None: the run has no limit. A limit that is not positive (or not a number) has passed already.
std::optional<KLVToolProcess::Clock::time_point> deadlineOf(const KLVTaskRunnerInput& input,
                                                            KLVToolProcess::Clock::time_point now) {
  if (input.shouldRunTaskUntilFinish) {
    return std::nullopt;
  }
  const double interval = input.timeoutInterval();
  if (!(interval > 0)) {
    return now;
  }
  const auto limit = std::chrono::duration<double>(std::min(interval, kLongestTimeoutInterval));
  return now + std::chrono::duration_cast<KLVToolProcess::Clock::duration>(limit);
}

std::optional<KLVTaskRunnerOutput> run(const KLVTaskRunnerInput& input, NSError* error) {
  const auto started = KLVToolProcess::Clock::now();
  const auto deadline = deadlineOf(input, started);
  // A tool whose time is up before it starts is not started at all: starting it only to stop
  // it at once could leave its work half done.
  if (deadline && *deadline <= started) {
    platform::setError(error, runnerError(kKLVTaskRunnerServiceTimedOut));
    return std::nullopt;
  }

  KLVFreezeWatch watch(
      kRunFreezeTimeout, [path = input.executablePath, arguments = input.arguments] {
        return platform::UserInfo{
            {kKLVFreezeFilePathKey, path},
            {kKLVFreezeLabelKey, std::string("KLVTaskRunnerService.executeTaskWithInput")},
            {kKLVTaskRunnerServiceArgumentsKey, arguments}};
      });

  NSError launchError;
  auto process = KLVToolProcess::launch(input, &launchError);
  if (!process) {
    platform::setError(error, launchFailed(launchError));
    return std::nullopt;
  }
  if (input.launchBlock) {
    try {
      input.launchBlock(process->pid());
    } catch (const std::exception& exception) {
      utilities::log("Launch block of %@ failed: %@", {input.executablePath, exception.what()});
    }
  }

  switch (process->wait(deadline, input.executionControl.get())) {
  case KLVToolProcess::WaitOutcome::timedOut:
    process->terminate();
    platform::setError(error, runnerError(kKLVTaskRunnerServiceTimedOut));
    return std::nullopt;
  case KLVToolProcess::WaitOutcome::cancelled:
    process->terminate();
    platform::setError(error, NSError(platform::NSCocoaErrorDomain, kUserCancelledErrorCode));
    return std::nullopt;
  case KLVToolProcess::WaitOutcome::finished:
    break;
  }
  const int status = process->reap();
  if (process->truncated()) {
    utilities::log("Output of %@ exceeded %@ bytes; the rest was discarded",
                   {input.executablePath, std::to_string(kKLVMaxCollectedOutputBytes)});
  }
  if (!process->readErrors().empty()) {
    platform::setError(error, runnerError(kKLVTaskRunnerServiceReadFailed,
                                          {{kKLVEmbeddedErrorsKey, process->readErrors()},
                                           {kKLVTaskRunnerServiceArgumentsKey, input.arguments}}));
    return std::nullopt;
  }
  return KLVTaskRunnerOutput(
      status, input.shouldReadOutputValue ? std::optional(process->valueOutput()) : std::nullopt,
      input.shouldReadOutputError ? std::optional(process->errorOutput()) : std::nullopt);
}

} // namespace

std::optional<std::string> KLVTaskRunnerOutput::valueText() const {
  return textOf(valueOutput_);
}
std::optional<std::string> KLVTaskRunnerOutput::errorText() const {
  return textOf(errorOutput_);
}

std::optional<KLVTaskRunnerOutput> KLVTaskRunnerService::executeTaskWithExecutablePath(
    const std::string& executablePath, const std::vector<std::string>& arguments,
    double timeoutInterval, platform::NSError* error) {
  KLVTaskRunnerInput input(executablePath);
  input.arguments = arguments;
  input.setTimeoutInterval(timeoutInterval);
  input.shouldRunTaskUntilFinish = false;
  return executeTaskWithInput(input, error);
}

std::optional<KLVTaskRunnerOutput>
KLVTaskRunnerService::executeTaskWithInput(const KLVTaskRunnerInput& input,
                                           platform::NSError* error) {
  try {
    return run(input, error);
  } catch (const std::exception& exception) {
    // Only resource exhaustion gets here; a started tool was killed and reaped on the way out.
    platform::setError(error, launchFailed(platform::bridgeToNSError(exception)));
    return std::nullopt;
  }
}

} // namespace tasks
