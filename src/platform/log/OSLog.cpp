#include "platform/log/OSLog.h"

#include <algorithm>
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
  case Level::notice:
    return "notice";
  case Level::warning:
    return "warning";
  case Level::error:
    return "error";
  case Level::fault:
    return "fault";
  }
  return "info";
}

int OSLog::priority(Level level) {
  switch (level) {
  case Level::debug:
    return 7;
  case Level::info:
    return 6;
  case Level::notice:
    return 5;
  case Level::warning:
    return 4;
  case Level::error:
    return 3;
  case Level::fault:
    return 2;
  }
  return 6;
}

void OSLog::write(Level level, std::string_view message) const {
  std::string header = "<" + std::to_string(priority(level)) + ">";
  header.append(subsystem_).append("[").append(category_).append("] ");
  header.append(levelName(level)).append(": ");
  std::string lines;
  lines.reserve(header.size() + message.size() + 1);
  do {
    const size_t end = std::min(message.find('\n'), message.size());
    lines.append(header).append(message.substr(0, end)).append("\n");
    message.remove_prefix(std::min(end + 1, message.size()));
  } while (!message.empty());
  if (sink()) {
    sink()(lines);
    return;
  }
  writeAll(lines);
}

void OSLog::setSinkForTest(Sink newSink) {
  sink() = std::move(newSink);
}

} // namespace platform
