#include "operations/BrokenStartupItemsPrivilegedOperations.h"

#include "utilities/LRLaunchdManager.h"

namespace operations {

BrokenStartupItemsPrivilegedOperations::BrokenStartupItemsPrivilegedOperations()
    : BrokenStartupItemsPrivilegedOperations(AgentInstallation::installed()) {}

BrokenStartupItemsPrivilegedOperations::BrokenStartupItemsPrivilegedOperations(
    AgentInstallation installation)
    : fileManager_(utilities::FileManager::defaultManager()),
      installation_(std::move(installation)) {}

bool BrokenStartupItemsPrivilegedOperations::removeBrokenStartupItem(
    const platform::URL& url) const {
  const auto named = requestPath(url);
  if (!named || namesRootFolder(*named)) {
    // launchctl and the removal would resolve a relative path against the agent's working
    // folder, an empty one would read as already removed, and the root folder is no item.
    return false;
  }
  const std::string& path = *named;
  // A folder is no job file: launchctl would unload every job inside it and the removal
  // would take the whole tree. A link to a folder is unloaded, and only the link removed.
  if (isFolderItself(path)) {
    return false;
  }
  if (auto identifier = installation_.usableBundleIdentifier()) {
    if (path == installation_.jobFilePath(*identifier)) {
      removeSelf(*identifier, path);
    }
  }
  // For the agent's own item this second attempt finds nothing left to remove; its answer is
  // the reply that goes out before the process ends.
  return utilities::LRLaunchdManager::removeAgentAtPath(path);
}

void BrokenStartupItemsPrivilegedOperations::removeSelf(const std::string& identifier,
                                                        const std::string& jobFilePath) const {
  removeAgentExecutableAndJobFile(fileManager_, installation_, identifier);
  utilities::LRLaunchdManager::removeAgentAtPath(jobFilePath);
  if (installation_.terminate) {
    installation_.terminate();
  }
}

} // namespace operations
