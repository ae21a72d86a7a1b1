#pragma once

#include "operations/FileSystemPrivilegedOperations.h"
#include "platform/foundation/URL.h"
#include "utilities/FileManager.h"

namespace operations {

// Removes a launch agent or daemon whose job file a client found broken: unloads it and removes
// its helper and its file through the launchd manager. When the file is the agent's own, the
// agent first removes its executable and job file and then ends. Holds no mutable state.
class BrokenStartupItemsPrivilegedOperations {
public:
  BrokenStartupItemsPrivilegedOperations();
  // Tests give their own folders and a termination that does not end the test process; the
  // launchd manager's tool and helper folder come from its own test environment.
  explicit BrokenStartupItemsPrivilegedOperations(AgentInstallation installation);

  // The result of the launchd manager's removal of the item (false when the unload printed
  // anything or a removal failed; nothing is thrown for ordinary items). False at once for a
  // path that is not absolute, names the root or is a folder. For the agent's own
  // job file a failed removal of its executable or file is thrown (platform::NSErrorException)
  // and the process keeps running.
  bool removeBrokenStartupItem(const platform::URL& url) const;

  const utilities::FileManager& fileManager() const { return fileManager_; }

private:
  // Removes the agent's executable and job file and schedules the end of the process.
  void removeSelf(const std::string& identifier, const std::string& jobFilePath) const;

  const utilities::FileManager& fileManager_;
  AgentInstallation installation_;
};

} // namespace operations
