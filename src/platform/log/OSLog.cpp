#include "platform/log/OSLog.h"

#include <cerrno>
#include <unistd.h>

namespace platform {
namespace {

OSLog::Sink& sink() {
  static OSLog::Sink installed;
  return installed;
}

void writeAll(const std::string& line) {
  size_t done = 0;
  while (done < line.size()) {
    ssize_t written = ::write(STDERR_FILENO, line.data() + done, line.size() - done);
    if (written < 0 && errno == EINTR) {
      continue;
    }
    if (written <= 0) {
      return; // logging never fails the caller
    }
    done += static_cast<size_t>(written);
  }
}

} // namespace

const char* OSLog::levelName(Level level) {
  switch (level) {
  case Level::debug:
    return "debug";
  case Level::info:
    return "info";
  case Level::error:
    return "error";
  case Level::fault:
    return "fault";
  }
  return "info";
}

void OSLog::write(Level level, std::string_view message) const {
  std::string line;
  line.reserve(subsystem_.size() + category_.size() + message.size() + 16);
  line.append(subsystem_).append("[").append(category_).append("] ");
  line.append(levelName(level)).append(": ").append(message).append("\n");
  if (sink()) {
    sink()(line);
    return;
  }
  writeAll(line);
}

void OSLog::setSinkForTest(Sink newSink) {
  sink() = std::move(newSink);
}

} // namespace platform
