#include "utilities/ChildProcess.h"

#include "platform/posix/ChildProcess.h"

#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace utilities {
namespace {

using platform::posix::SpawnFailure;

bool containsNul(const std::string& text) {
  return text.find('\0') != std::string::npos;
}

platform::posix::ChildStream streamOf(ChildStream stream) {
  return stream == ChildStream::inherit ? platform::posix::ChildStream::inherit
                                        : platform::posix::ChildStream::pipe;
}

std::string describe(const SpawnFailure& failure) {
  switch (failure.stage) {
  case SpawnFailure::Stage::path:
    return "the launch path contains a NUL byte";
  case SpawnFailure::Stage::argument:
    return "an argument contains a NUL byte";
  case SpawnFailure::Stage::pipe:
    return std::string("pipe: ") + std::strerror(failure.error);
  default:
    return std::string("launch path not accessible: ") + std::strerror(failure.error);
  }
}

} // namespace

bool isExecutableFile(const std::string& path) {
  if (path.empty() || containsNul(path)) {
    return false;
  }
  struct stat info;
  if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
    return false;
  }
  return ::faccessat(AT_FDCWD, path.c_str(), X_OK, AT_EACCESS) == 0;
}

std::optional<ChildResult> runChild(const ChildRequest& request, std::string* failureReason) {
  platform::posix::SpawnRequest spawn;
  spawn.path = request.path;
  spawn.arguments = request.arguments;
  if (!request.inheritEnvironment) {
    spawn.environment.emplace(); // no variables at all
  }
  spawn.input = request.standardInput ? platform::posix::ChildStream::pipe
                                      : platform::posix::ChildStream::inherit;
  spawn.output = streamOf(request.standardOutput);
  spawn.error = streamOf(request.standardError);

  SpawnFailure failure;
  auto child = platform::posix::ChildProcess::spawn(spawn, &failure);
  if (!child) {
    if (failureReason != nullptr) {
      *failureReason = describe(failure);
    }
    return std::nullopt;
  }
  platform::posix::ChildProcess::Capture output, errorOutput;
  platform::posix::ChildProcess::PumpOptions options;
  if (request.standardInput) {
    options.input = *request.standardInput;
  }
  options.output = request.standardOutput == ChildStream::capture ? &output : nullptr;
  options.error = request.standardError == ChildStream::capture ? &errorOutput : nullptr;
  options.limit = kMaxCapturedBytes;
  child->pump(options);

  ChildResult result;
  result.output = std::move(output.bytes);
  result.errorOutput = std::move(errorOutput.bytes);
  result.truncated = output.truncated || errorOutput.truncated;
  result.terminationStatus = child->reap();
  return result;
}

} // namespace utilities
