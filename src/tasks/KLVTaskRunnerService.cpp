#include "tasks/KLVTaskRunnerService.h"

#include "platform/foundation/ValidUTF8.h"

namespace tasks {
namespace {

std::optional<std::string> textOf(const std::optional<std::string>& bytes) {
  if (!bytes || !platform::isValidUTF8(*bytes)) {
    return std::nullopt;
  }
  return *bytes;
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

// Placeholder until the spawning runner lands: every launch fails.
std::optional<KLVTaskRunnerOutput>
KLVTaskRunnerService::executeTaskWithInput(const KLVTaskRunnerInput&, platform::NSError* error) {
  if (error) {
    *error = platform::NSError(kKLVTaskRunnerServiceErrorDomain, kKLVTaskRunnerServiceLaunchFailed);
  }
  return std::nullopt;
}

} // namespace tasks
