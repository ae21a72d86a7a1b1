#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace platform {

// One log handle with a subsystem and a category, standing in for the unified log. Each line
// goes to standard error (the journal under systemd) in one write, as
// "<N><subsystem>[<category>] <level>: <message>", where <N> is the syslog priority that the
// journal reads from a service's standard error (2 fault, 3 error, 4 warning, 5 notice,
// 6 info, 7 debug). A message of several lines becomes several lines, each with the prefix,
// so that no text inside a message can pass for a line of another priority or source.
class OSLog {
public:
  enum class Level { debug, info, notice, warning, error, fault };

  OSLog(std::string subsystem, std::string category)
      : subsystem_(std::move(subsystem)), category_(std::move(category)) {}

  void debug(std::string_view message) const { write(Level::debug, message); }
  void info(std::string_view message) const { write(Level::info, message); }
  void notice(std::string_view message) const { write(Level::notice, message); }
  void warning(std::string_view message) const { write(Level::warning, message); }
  void error(std::string_view message) const { write(Level::error, message); }
  void fault(std::string_view message) const { write(Level::fault, message); }
  void write(Level level, std::string_view message) const;

  static const char* levelName(Level level);
  // The syslog priority of `level`, 2 (critical) to 7 (debug).
  static int priority(Level level);

  // Replaces where every handle's lines go (tests capture them); an empty function restores
  // standard error. Install before other threads log.
  using Sink = std::function<void(const std::string& line)>;
  static void setSinkForTest(Sink sink);

private:
  std::string subsystem_;
  std::string category_;
};

} // namespace platform
