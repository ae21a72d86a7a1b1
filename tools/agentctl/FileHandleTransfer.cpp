#include "FileHandleTransfer.h"

#include <cerrno>
#include <unistd.h>

namespace agentctl {

bool writeAll(int descriptor, std::string_view text, platform::NSError* error) {
  while (!text.empty()) {
    const ssize_t written = ::write(descriptor, text.data(), text.size());
    if (written < 0) {
      if (errno == EINTR) {
        continue;
      }
      platform::setError(error, platform::NSError::posix(errno));
      return false;
    }
    text.remove_prefix(static_cast<size_t>(written));
  }
  return true;
}

bool copyToEnd(int descriptor, int output, platform::NSError* error) {
  char buffer[64 * 1024];
  for (;;) {
    const ssize_t count = ::read(descriptor, buffer, sizeof buffer);
    if (count == 0) {
      return true;
    }
    if (count < 0) {
      if (errno == EINTR) {
        continue;
      }
      platform::setError(error, platform::NSError::posix(errno));
      return false;
    }
    if (!writeAll(output, std::string_view(buffer, static_cast<size_t>(count)), error)) {
      return false;
    }
  }
}

} // namespace agentctl
