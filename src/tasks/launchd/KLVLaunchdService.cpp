#include "tasks/launchd/KLVLaunchdService.h"

#include "utilities/Log.h"
#include "utilities/SafeLabel.h"

namespace tasks {

KLVLaunchdService::KLVLaunchdService(const utilities::FileManager& fileManager,
                                     KLVFileRemoverService fileRemover,
                                     std::shared_ptr<KLVTaskRunnerService> taskRunner,
                                     double externalUtilityExecutionTimeout)
    : fileManager_(fileManager), fileRemover_(fileRemover), taskRunner_(std::move(taskRunner)),
      externalUtilityExecutionTimeout_(externalUtilityExecutionTimeout) {}

bool KLVLaunchdService::removeAgentAtPath(const std::string& path, platform::NSError* error) const {
  if (path.empty()) {
    return false;
  }
  if (!unloadLaunchAgentWithConfigPath(path, error)) {
    return false;
  }
  return fileRemover_.removeFileWithPath(path, true, error);
}

bool KLVLaunchdService::unloadLaunchAgentWithConfigPath(const std::string& path,
                                                        platform::NSError* error) const {
  // A relative path could be read by launchctl as one of its options.
  if (!path.starts_with('/') || !taskRunner_) {
    return false;
  }
  auto output = taskRunner_->executeTaskWithExecutablePath(kLaunchctlPath, {"unload", path},
                                                           kLaunchctlTimeoutInterval, error);
  if (!output) {
    return false;
  }
  if (!output->isExitStatusSuccess()) {
    utilities::log("Unloading error: %@", {output->errorText().value_or("(null)")});
    return false;
  }
  return removePrivilegedToolWithLabel(utilities::labelFromJobFilePath(path), error);
}

bool KLVLaunchdService::removePrivilegedToolWithLabel(const std::string& label,
                                                      platform::NSError* error) const {
  if (!utilities::isSafeLabel(label)) {
    utilities::log("The label %@ names no helper tool; no helper tool is removed", {label});
    return true;
  }
  const std::string toolPath = helperToolsDirectory_ + "/" + label;
  if (!fileManager_.fileExistsAtPath(toolPath)) {
    return true;
  }
  return fileRemover_.removeFileWithPath(toolPath, true, error);
}

} // namespace tasks
