#include "utilities/LRTaskRunner.h"

#include "utilities/CapturedText.h"
#include "utilities/ChildProcess.h"
#include "utilities/Log.h"
#include "utilities/StringsTable.h"

#include <exception>

namespace utilities {
namespace {

constexpr const char* kNotExecutable = "Unable to execute %@. File doesn't seem to be executable.";
constexpr const char* kInvocationFailed = "Error while invoking command %@ with args %@ : %@";

void logInvocationFailure(const std::string& path, const std::vector<std::string>& arguments,
                          const std::string& reason) {
  log(kInvocationFailed, {path, describeList(arguments), reason});
}

void logTruncation(const std::string& path, const ChildResult& result) {
  if (result.truncated) {
    log("Output of %@ exceeded %@ bytes; the rest was discarded",
        {path, std::to_string(kMaxCapturedBytes)});
  }
}

platform::NSError launchError(const std::string& description) {
  return platform::NSError(kLRTaskRunnerErrorDomain, 0,
                           {{platform::NSLocalizedDescriptionKey, description}});
}

ChildRequest makeRequest(const std::string& path, const std::vector<std::string>& arguments,
                         bool inheritEnvironment) {
  ChildRequest request;
  request.path = path;
  request.arguments = arguments;
  request.inheritEnvironment = inheritEnvironment;
  return request;
}

} // namespace

void LRTaskRunner::launchTask(const std::string& path, const std::vector<std::string>& arguments,
                              const std::optional<std::string>& standartInput,
                              const CompletionHandler& handler) const {
  bool handlerCalled = false;
  auto finish = [&](std::optional<std::string> output, int32_t status,
                    std::optional<std::string> errorOutput,
                    std::optional<platform::NSError> error) {
    handlerCalled = true;
    if (!handler) {
      return;
    }
    try {
      handler(std::move(output), status, std::move(errorOutput), std::move(error));
    } catch (const std::exception& exception) {
      log("Completion handler of %@ failed: %@", {path, exception.what()});
    } catch (...) {
      log("Completion handler of %@ failed: %@", {path, "unknown exception"});
    }
  };
  try {
    if (!isExecutableFile(path)) {
      log(kNotExecutable, {path});
      finish(std::nullopt, -1, std::nullopt,
             launchError(errorsTableString("ErrorDescriptionRemoving_FailedToLaunchTask")));
      return;
    }
    ChildRequest request = makeRequest(path, arguments, inheritEnvironmentOfCurrentProcess);
    request.standardInput = standartInput;
    std::string failureReason;
    auto result = runChild(request, &failureReason);
    if (!result) {
      logInvocationFailure(path, arguments, failureReason);
      finish(std::nullopt, -1, std::nullopt, launchError(failureReason));
      return;
    }
    logTruncation(path, *result);
    finish(capturedText(result->output), result->terminationStatus,
           capturedText(result->errorOutput), std::nullopt);
  } catch (const std::exception& exception) {
    logInvocationFailure(path, arguments, exception.what());
    if (!handlerCalled) {
      finish(std::nullopt, -1, std::nullopt, launchError(exception.what()));
    }
  }
}

void LRTaskRunner::launchTask(const std::string& path, const std::vector<std::string>& arguments,
                              const CompletionHandler& handler) const {
  launchTask(path, arguments, std::nullopt, handler);
}

bool LRTaskRunner::runForStandardOutput(const std::string& path,
                                        const std::vector<std::string>& arguments,
                                        std::optional<std::string>& output) const {
  bool started = false;
  output.reset();
  launchTask(path, arguments,
             [&](std::optional<std::string> standardOutput, int32_t, std::optional<std::string>,
                 std::optional<platform::NSError> error) {
               started = !error;
               output = std::move(standardOutput);
             });
  return started;
}

std::optional<std::string> LRTaskRunner::getOutput(const std::string& path,
                                                   const std::vector<std::string>& arguments,
                                                   bool suppressErrorOutput,
                                                   bool useErrorOutputAsStd,
                                                   int32_t* resultCode) const {
  try {
    if (!isExecutableFile(path)) {
      log(kNotExecutable, {path});
      return std::nullopt;
    }
    ChildRequest request = makeRequest(path, arguments, inheritEnvironmentOfCurrentProcess);
    // The stream that is not handed back is still drained, so the tool cannot block on it.
    request.standardOutput = useErrorOutputAsStd ? ChildStream::discard : ChildStream::capture;
    if (useErrorOutputAsStd) {
      request.standardError = ChildStream::capture;
    } else {
      request.standardError = suppressErrorOutput ? ChildStream::discard : ChildStream::inherit;
    }
    std::string failureReason;
    auto result = runChild(request, &failureReason);
    if (!result) {
      logInvocationFailure(path, arguments, failureReason);
      return std::nullopt;
    }
    logTruncation(path, *result);
    if (resultCode != nullptr) {
      *resultCode = result->terminationStatus;
    }
    return capturedText(useErrorOutputAsStd ? result->errorOutput : result->output);
  } catch (const std::exception& exception) {
    logInvocationFailure(path, arguments, exception.what());
    return std::nullopt;
  }
}

std::optional<std::string>
LRTaskRunner::launchTaskAndGetOutput(const std::string& path,
                                     const std::vector<std::string>& arguments,
                                     bool suppressErrorOutput) const {
  return getOutput(path, arguments, suppressErrorOutput, !suppressErrorOutput, nullptr);
}

std::optional<std::string>
LRTaskRunner::launchTaskAndGetOutput(const std::string& path,
                                     const std::vector<std::string>& arguments) const {
  return launchTaskAndGetOutput(path, arguments, false);
}

int32_t LRTaskRunner::launchTaskAndGetTermStatusWithCmd(const std::string& path,
                                                        const std::vector<std::string>& arguments,
                                                        bool suppressErrorOutput) const {
  try {
    if (!isExecutableFile(path)) {
      return -1;
    }
    ChildRequest request = makeRequest(path, arguments, inheritEnvironmentOfCurrentProcess);
    request.standardOutput = ChildStream::discard;
    request.standardError = suppressErrorOutput ? ChildStream::discard : ChildStream::inherit;
    std::string failureReason;
    auto result = runChild(request, &failureReason);
    if (!result) {
      logInvocationFailure(path, arguments, failureReason);
      return -1;
    }
    return result->terminationStatus;
  } catch (const std::exception& exception) {
    logInvocationFailure(path, arguments, exception.what());
    return -1;
  }
}

int32_t
LRTaskRunner::launchTaskAndGetTermStatusWithCmd(const std::string& path,
                                                const std::vector<std::string>& arguments) const {
  return launchTaskAndGetTermStatusWithCmd(path, arguments, false);
}

} // namespace utilities
