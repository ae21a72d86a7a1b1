#include "FileHandleTransfer.h"

#include "platform/posix/ReadWrite.h"
#include "platform/posix/RetryOnInterrupt.h"

#include <cerrno>
#include <unistd.h>

namespace agentctl {

bool writeAll(int descriptor, std::string_view text, platform::NSError* error) {
  if (const int failure = platform::posix::writeAll(descriptor, text); failure != 0) {
    platform::setError(error, platform::NSError::posix(failure));
    return false;
  }
  return true;
}

bool copyToEnd(int descriptor, int output, platform::NSError* error) {
  char buffer[64 * 1024];
  for (;;) {
    const ssize_t count = platform::posix::retryOnInterrupt(
        [&] { return ::read(descriptor, buffer, sizeof buffer); });
    if (count == 0) {
      return true;
    }
    if (count < 0) {
      platform::setError(error, platform::NSError::posix(errno));
      return false;
    }
    if (!writeAll(output, std::string_view(buffer, static_cast<size_t>(count)), error)) {
      return false;
    }
  }
}

} // namespace agentctl
