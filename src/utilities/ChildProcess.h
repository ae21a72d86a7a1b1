#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace utilities {

// What becomes of one output stream of a child.
enum class ChildStream {
  inherit, // the daemon's own stream
  capture, // a pipe whose bytes are kept (up to kMaxCapturedBytes)
  discard, // a pipe that is drained and dropped, so the child never blocks on it
};

// Bytes kept per captured stream; what a child prints beyond this is read and dropped.
inline constexpr size_t kMaxCapturedBytes = 64u * 1024 * 1024;

struct ChildRequest {
  std::string path;                         // absolute path of the executable; also argv[0]
  std::vector<std::string> arguments;       // passed as they are, no shell
  bool inheritEnvironment = false;          // false: the child gets no variables at all
  std::optional<std::string> standardInput; // none: stdin is inherited; text: a pipe fed with it
  ChildStream standardOutput = ChildStream::capture;
  ChildStream standardError = ChildStream::capture;
};

struct ChildResult {
  std::string output;        // captured standard output (empty unless captured)
  std::string errorOutput;   // captured standard error (empty unless captured)
  bool truncated = false;    // a captured stream exceeded kMaxCapturedBytes
  int terminationStatus = 0; // exit status, or the signal number for a killed child
};

// Starts the child with posix_spawn (no shell, descriptors above 2 closed, default signal
// handling), feeds its standard input, drains both output pipes together with poll so that no
// pipe can fill and stall the child, and waits for its exit. None when the child could not be
// started; `failureReason` then says why.
std::optional<ChildResult> runChild(const ChildRequest& request, std::string* failureReason);

// An existing regular file (symbolic links followed) that the daemon may execute.
bool isExecutableFile(const std::string& path);

} // namespace utilities
