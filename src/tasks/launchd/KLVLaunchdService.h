#pragma once

#include "platform/foundation/NSError.h"
#include "tasks/files/KLVFileRemoverService.h"
#include "tasks/processes/KLVTaskRunnerService.h"
#include "utilities/FileManager.h"

#include <memory>
#include <string>

namespace tasks {

// Unloads launchd jobs through launchctl and removes their files: the job's property list and
// the privileged helper tool named after the job's label.
class KLVLaunchdService {
public:
  static constexpr const char* kLaunchctlPath = "/bin/launchctl";
  // Every launchctl run of this service gets this limit, whatever the caller's timeout says.
  static constexpr double kLaunchctlTimeoutInterval = 0.5;
  static constexpr const char* kPrivilegedHelperToolsDirectory = "/Library/PrivilegedHelperTools";

  KLVLaunchdService(const utilities::FileManager& fileManager, KLVFileRemoverService fileRemover,
                    std::shared_ptr<KLVTaskRunnerService> taskRunner,
                    double externalUtilityExecutionTimeout);

  // Unloads the job and removes its helper tool, then deletes the property list (its folder
  // stays even when emptied). An empty or relative path fails without an error, and so does a
  // job that launchctl would not unload; the property list then stays.
  bool removeAgentAtPath(const std::string& path, platform::NSError* error) const;

  // Runs "launchctl unload <path>"; on success removes the helper tool named after the file
  // name of the property list without its extension (never after the list's contents).
  bool unloadLaunchAgentWithConfigPath(const std::string& path, platform::NSError* error) const;

  // Removes "<helper tools folder>/<label>" if it exists. A label that cannot be one file name
  // in that folder ("", ".", "..", or holding "/") names no helper tool: nothing is removed and
  // the call succeeds, so that the removal of the job goes on.
  bool removePrivilegedToolWithLabel(const std::string& label, platform::NSError* error) const;

  double externalUtilityExecutionTimeout() const { return externalUtilityExecutionTimeout_; }

  // Tests point the service at a folder of their own instead of the system's.
  void setPrivilegedHelperToolsDirectoryForTest(std::string directory) {
    helperToolsDirectory_ = std::move(directory);
  }

private:
  const utilities::FileManager& fileManager_;
  KLVFileRemoverService fileRemover_;
  std::shared_ptr<KLVTaskRunnerService> taskRunner_;
  double externalUtilityExecutionTimeout_;
  std::string helperToolsDirectory_ = kPrivilegedHelperToolsDirectory;
};

} // namespace tasks
