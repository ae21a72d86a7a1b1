#pragma once

#include "platform/foundation/SystemVersion.h"
#include "utilities/LRTaskRunner.h"

#include <functional>
#include <string>
#include <string_view>

namespace operations {

// Clears the system logs that only root may remove: the unified log's stored diagnostics and
// the files of the older system log facility. Both requests answer with a Bool and never
// throw; failures are written to the agent's log. Safe to call from several threads at once.
class LogsPrivilegedOperations {
public:
  static constexpr const char* kLogToolPath = "/usr/bin/log";
  static constexpr const char* kASLDirectoryPath = "/var/log/asl";
  static constexpr const char* kSyslogdLabel = "com.apple.syslogd";
  static constexpr const char* kASLManagerLabel = "com.apple.aslmanager";
  static constexpr int64_t kEraseTimeoutSeconds = 2;
  // From this version on the log files are removed without restarting the log services.
  static constexpr platform::SystemVersion kCurrentLoggingVersion{12, 7, 0};

  // Receives each failure line, to be written at error level to the agent's log.
  using ErrorLog = std::function<void(std::string_view line)>;

  // Failure lines go to the utilities' general log.
  LogsPrivilegedOperations();
  explicit LogsPrivilegedOperations(ErrorLog errorLog);

  // Runs the log tool's "erase", answering "y" to its question on standard input; true when
  // it exits with status 0, whatever it printed.
  bool removeDiagnosticsLogs() const;

  // Removes the contents of the log folder (the folder stays). Systems older than
  // kCurrentLoggingVersion also stop the two log services first and start them again
  // afterwards; the first failing step ends the work, and services already stopped stay so.
  bool removeASLLogs() const;

  // Prefixes the log tool and the log folder with `root` (tests use stubs and a temporary
  // folder; the launchd tool is set through LRLaunchdManager's own test environment).
  void setRootForTest(std::string root) { root_ = std::move(root); }

private:
  bool removeASLDirectoryContents() const;

  utilities::LRTaskRunner taskRunner_;
  ErrorLog errorLog_;
  std::string root_;
};

} // namespace operations
