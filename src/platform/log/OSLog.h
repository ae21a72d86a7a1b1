#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace platform {

// One log handle with a subsystem and a category, standing in for the unified log. Each line
// goes to standard error (the journal under systemd) in one write, as
// "<subsystem>[<category>] <level>: <message>".
class OSLog {
public:
  enum class Level { debug, info, error, fault };

  OSLog(std::string subsystem, std::string category)
      : subsystem_(std::move(subsystem)), category_(std::move(category)) {}

  void debug(std::string_view message) const { write(Level::debug, message); }
  void info(std::string_view message) const { write(Level::info, message); }
  void error(std::string_view message) const { write(Level::error, message); }
  void fault(std::string_view message) const { write(Level::fault, message); }
  void write(Level level, std::string_view message) const;

  static const char* levelName(Level level);

  // Replaces where every handle's lines go (tests capture them); an empty function restores
  // standard error. Install before other threads log.
  using Sink = std::function<void(const std::string& line)>;
  static void setSinkForTest(Sink sink);

private:
  std::string subsystem_;
  std::string category_;
};

} // namespace platform
