#include "operations/LaunchdPrivilegedOperations.h"

#include "operations/FileSystemPrivilegedOperations.h"
#include "utilities/FileManagerAdditions.h"
#include "utilities/Log.h"
#include "utilities/PathComponents.h"
#include "utilities/SafeLabel.h"

namespace operations {

LaunchdPrivilegedOperations::LaunchdPrivilegedOperations()
    : LaunchdPrivilegedOperations(kLaunchctlPath, kPrivilegedHelperToolsPath) {}

LaunchdPrivilegedOperations::LaunchdPrivilegedOperations(
    std::string launchctlPathForTest, std::string privilegedHelperToolsPathForTest)
    : fileManager_(utilities::FileManager::defaultManager()),
      taskRunner_(std::make_shared<const utilities::LRTaskRunner>()),
      launchctlPath_(std::move(launchctlPathForTest)),
      privilegedHelperToolsPath_(std::move(privilegedHelperToolsPathForTest)) {}

bool LaunchdPrivilegedOperations::removeLaunchAgent(const platform::URL& url) const {
  const auto named = requestPath(url);
  if (!named) {
    // launchctl would resolve a relative path against the agent's working folder.
    throw platform::NSErrorException(unusablePathError(url));
  }
  const std::string& path = *named;
  if (namesRootFolder(path)) {
    throw platform::NSErrorException(rootFolderRemovalError(path));
  }

  // A folder is no job file: launchctl would unload every job inside it and the removal
  // would take the whole tree. A link to a folder is a job file's name like any other: it is
  // unloaded, and only the link is removed.
  if (isFolderItself(path)) {
    return false;
  }

  // The captured standard output is the only sign of a failed unload that counts; the exit
  // status is not examined. A launchctl that cannot run unloaded nothing: that is a failure
  // too, and the job file stays.
  std::optional<std::string> output;
  const bool started = taskRunner_->runForStandardOutput(launchctlPath_, {"unload", path}, output);
  if (!started) {
    utilities::log("Not removing %@: %@ could not be run", {path, launchctlPath_});
    return false;
  }
  if (output) {
    return false;
  }

  // The label comes from the file name. One that is no single file name ("", ".", "..")
  // would make the helper's path the helper folder itself or its parent: it names no helper.
  const std::string label = utilities::labelFromJobFilePath(path);
  if (utilities::isSafeLabel(label)) {
    const std::string helperPath =
        utilities::appendingPathComponent(privilegedHelperToolsPath_, label);
    if (fileManager_.fileExistsAtPath(helperPath)) {
      platform::NSError error;
      if (!fileManager_.removeItemAtPath(helperPath, &error)) {
        throwFileManagerError(std::move(error), helperPath);
      }
    }
  } else {
    utilities::log("Not removing a helper tool for the label %@: it is not a single file name",
                   {label});
  }

  platform::NSError error;
  if (!utilities::removeFileAndHandleLockAtPath(path, &error)) {
    throwFileManagerError(std::move(error), path);
  }
  return true;
}

} // namespace operations
