#include "tasks/processes/KLVToolProcess.h"

#include <algorithm>
#include <cerrno>

namespace tasks {

using platform::NSError;

namespace {

// How often the loop looks at the execution control.
constexpr std::chrono::milliseconds kControlInterval{100};

bool containsNul(const std::string& text) {
  return text.find('\0') != std::string::npos;
}

NSError invalidInput(const std::string& reason) {
  return NSError(platform::NSPOSIXErrorDomain, EINVAL,
                 {{platform::NSLocalizedDescriptionKey, reason}});
}

// The checks of everything that becomes part of the child's argv, environment or directory:
// the kernel takes C strings, so an embedded NUL would silently cut a value short.
std::optional<NSError> validate(const KLVTaskRunnerInput& input) {
  if (input.executablePath.empty() || input.executablePath.front() != '/') {
    return invalidInput("The executable path is not absolute: " + input.executablePath);
  }
  if (containsNul(input.executablePath)) {
    return invalidInput("The executable path contains a NUL byte");
  }
  if (std::any_of(input.arguments.begin(), input.arguments.end(), containsNul)) {
    return invalidInput("An argument contains a NUL byte");
  }
  if (input.environment) {
    for (const auto& [name, value] : *input.environment) {
      if (name.empty() || name.find('=') != std::string::npos || containsNul(name) ||
          containsNul(value)) {
        return invalidInput("An environment variable has an invalid name or value");
      }
    }
  }
  if (input.currentDirectoryPath && containsNul(*input.currentDirectoryPath)) {
    return invalidInput("The working directory contains a NUL byte");
  }
  return std::nullopt;
}

} // namespace

std::optional<KLVToolProcess> KLVToolProcess::launch(const KLVTaskRunnerInput& input,
                                                     NSError* launchError) {
  if (auto invalid = validate(input)) {
    platform::setError(launchError, std::move(*invalid));
    return std::nullopt;
  }
  using platform::posix::ChildStream;
  platform::posix::SpawnRequest request;
  request.path = input.executablePath;
  request.arguments = input.arguments;
  if (input.environment) {
    auto& variables = request.environment.emplace();
    variables.reserve(input.environment->size());
    for (const auto& [name, value] : *input.environment) {
      variables.push_back(name + "=" + value);
    }
  }
  // A stream that is not collected goes to /dev/null.
  request.input = ChildStream::null;
  request.output = input.shouldReadOutputValue ? ChildStream::pipe : ChildStream::null;
  request.error = input.shouldReadOutputError ? ChildStream::pipe : ChildStream::null;
  request.workingDirectory = input.currentDirectoryPath;
  // A group of its own: stopping the tool reaches the processes it started as well.
  request.ownProcessGroup = true;

  platform::posix::SpawnFailure failure;
  auto child = platform::posix::ChildProcess::spawn(request, &failure);
  if (!child) {
    platform::setError(launchError,
                       failure.stage == platform::posix::SpawnFailure::Stage::spawn
                           ? NSError::posix(failure.error, input.executablePath)
                           : NSError::posix(failure.error != 0 ? failure.error : ENOMEM));
    return std::nullopt;
  }
  return KLVToolProcess(std::move(*child));
}

KLVToolProcess::WaitOutcome KLVToolProcess::wait(std::optional<Clock::time_point> deadline,
                                                 const KLVExecutionControl* control) {
  std::vector<int> failures;
  platform::posix::ChildProcess::PumpOptions options;
  options.output = &value_;
  options.error = &error_;
  options.limit = kKLVMaxCollectedOutputBytes;
  options.deadline = deadline;
  if (control != nullptr) {
    options.isCancelled = [control] { return control->isCancelled(); };
    options.cancelInterval = kControlInterval;
  }
  options.readErrors = &failures;
  const auto outcome = child_.pump(options);
  for (int failure : failures) {
    readErrors_.push_back(NSError::posix(failure));
  }
  switch (outcome) {
  case platform::posix::ChildProcess::PumpOutcome::timedOut:
    return WaitOutcome::timedOut;
  case platform::posix::ChildProcess::PumpOutcome::cancelled:
    return WaitOutcome::cancelled;
  case platform::posix::ChildProcess::PumpOutcome::finished:
    break;
  }
  return WaitOutcome::finished;
}

void KLVToolProcess::terminate() {
  child_.terminate(kKLVTerminationGracePeriod);
}

int KLVToolProcess::reap() {
  return child_.reap();
}

} // namespace tasks
