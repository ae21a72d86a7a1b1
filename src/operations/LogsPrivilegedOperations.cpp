#include "operations/LogsPrivilegedOperations.h"

#include "utilities/FileManagerAdditions.h"
#include "utilities/LRLaunchdManager.h"
#include "utilities/Log.h"

#include <atomic>
#include <memory>

namespace operations {

LogsPrivilegedOperations::LogsPrivilegedOperations()
    : LogsPrivilegedOperations([](std::string_view line) { utilities::log("%@", {line}); }) {}

LogsPrivilegedOperations::LogsPrivilegedOperations(ErrorLog errorLog)
    : errorLog_(std::move(errorLog)) {}

bool LogsPrivilegedOperations::removeDiagnosticsLogs() const {
  // Shared with the completion handler, which could in principle outlive the wait.
  auto erased = std::make_shared<std::atomic<bool>>(false);
  const std::string toolPath = root_ + kLogToolPath;
  utilities::runAndWait(kEraseTimeoutSeconds, [&](std::function<void()> completion) {
    taskRunner_.launchTask(toolPath, {"erase"}, std::string("y"),
                           [erased, completion](std::optional<std::string>, int32_t status,
                                                std::optional<std::string>,
                                                std::optional<platform::NSError>) {
                             erased->store(status == 0);
                             completion();
                           });
  });
  return erased->load();
}

bool LogsPrivilegedOperations::removeASLLogs() const {
  if (platform::SystemVersion::current().isAtLeast(kCurrentLoggingVersion)) {
    return removeASLDirectoryContents();
  }
  using utilities::LRLaunchdManager;
  if (!LRLaunchdManager::stopAgentWithLabel(kSyslogdLabel)) {
    errorLog_("Failed to stop com.apple.syslogd");
    return false;
  }
  if (!LRLaunchdManager::stopAgentWithLabel(kASLManagerLabel)) {
    errorLog_("Failed to stop com.apple.aslmanager");
    return false;
  }
  if (!removeASLDirectoryContents()) {
    return false;
  }
  if (!LRLaunchdManager::startAgentWithLabel(kSyslogdLabel)) {
    errorLog_("Failed to start com.apple.syslogd");
    return false;
  }
  if (!LRLaunchdManager::startAgentWithLabel(kASLManagerLabel)) {
    errorLog_("Failed to start com.apple.aslmanager");
    return false;
  }
  return true;
}

bool LogsPrivilegedOperations::removeASLDirectoryContents() const {
  if (utilities::removeContentsOfDirectoryAtPath(root_ + kASLDirectoryPath)) {
    return true;
  }
  errorLog_("Failed to remove contents of /var/log/asl");
  return false;
}

} // namespace operations
