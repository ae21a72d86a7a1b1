#pragma once

#include "platform/foundation/URL.h"
#include "utilities/FileManager.h"
#include "utilities/LRTaskRunner.h"

#include <memory>
#include <string>

namespace operations {

// Removes a launch agent or daemon that a client names by its job file: unloads the job with
// launchctl, removes the privileged helper named by the file's label and then the file itself.
// Holds no mutable state; safe to call from several threads at once.
class LaunchdPrivilegedOperations {
public:
  static constexpr const char* kLaunchctlPath = "/bin/launchctl";
  static constexpr const char* kPrivilegedHelperToolsPath = "/Library/PrivilegedHelperTools";

  LaunchdPrivilegedOperations();
  // Tests name their own launchctl stub and helper folder.
  LaunchdPrivilegedOperations(std::string launchctlPathForTest,
                              std::string privilegedHelperToolsPathForTest);

  // False when the unload printed anything on its standard output or the path is a folder
  // (nothing is removed then);
  // true once the helper and the job file are gone (missing ones count as removed). Throws the
  // first removal's error (platform::NSErrorException), or the invalid-file-name error for a
  // URL whose path is not absolute, before anything runs.
  bool removeLaunchAgent(const platform::URL& url) const;

  const utilities::FileManager& fileManager() const { return fileManager_; }
  const utilities::LRTaskRunner& taskRunner() const { return *taskRunner_; }

private:
  const utilities::FileManager& fileManager_;
  std::shared_ptr<const utilities::LRTaskRunner> taskRunner_;
  std::string launchctlPath_;
  std::string privilegedHelperToolsPath_;
};

} // namespace operations
