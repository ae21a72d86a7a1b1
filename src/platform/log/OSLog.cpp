#include "platform/log/OSLog.h"

#include "platform/posix/ReadWrite.h"

#include <algorithm>
#include <unistd.h>

namespace platform {
namespace {

OSLog::Sink& sink() {
  static OSLog::Sink installed;
  return installed;
}

void writeAll(const std::string& line) {
  (void)posix::writeAll(STDERR_FILENO, line); // logging never fails the caller
}

} // namespace

namespace {

// Each level's name and its syslog priority, in the order of OSLog::Level.
struct LevelText {
  const char* name;
  int priority;
};
constexpr LevelText kLevels[] = {{"debug", 7},   {"info", 6},  {"notice", 5},
                                 {"warning", 4}, {"error", 3}, {"fault", 2}};

const LevelText& textOf(OSLog::Level level) {
  return kLevels[static_cast<size_t>(level)];
}

} // namespace

const char* OSLog::levelName(Level level) {
  return textOf(level).name;
}

int OSLog::priority(Level level) {
  return textOf(level).priority;
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
