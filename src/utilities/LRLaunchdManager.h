#pragma once

#include "utilities/LaunchdMessageInterface.h"

#include <memory>
#include <optional>
#include <string>

namespace utilities {

// Where LRLaunchdManager finds launchd, its tool and the helper executables. The production
// values are the system's; tests install their own with LRLaunchdManager::setEnvironmentForTest.
struct LaunchdEnvironment {
  std::string launchctlPath = "/bin/launchctl";
  std::string privilegedHelperToolsPath = "/Library/PrivilegedHelperTools";
  std::shared_ptr<LaunchdMessageInterface> messageInterface =
      std::make_shared<NoLaunchdMessageInterface>();
};

// The launchd actions of the operations: loaded-check (asks launchd), load, unload, start,
// stop and removal of jobs described by property-list files (through "/bin/launchctl", always
// with its error output suppressed), and reading a job's label or program. Stateless class
// methods; failures are false or none, never exceptions.
class LRLaunchdManager {
public:
  // Whether launchd knows the job named by the file's "Label" (waits at most 30 seconds).
  static bool isLoadedLaunchAgentWithConfigPath(const std::string& path);
  // Loads the job ("load" "-w" path) unless it is loaded already.
  static bool loadLaunchAgentWithConfigPath(const std::string& path);
  // Runs "unload" path; when that printed nothing on standard output, removes the helper named
  // by the file name's label (see removePrivilegedToolWithLabel) and answers that result.
  static bool unloadLaunchAgentWithConfigPath(const std::string& path);
  static bool enableAgentAtPath(const std::string& path);
  static bool unloadAgentAtPath(const std::string& path);
  static bool disableAgentAtPath(const std::string& path);
  // Unloads a loaded job ("unload" ["-w"] path) and stops it by label; true when it was not
  // loaded or the unload printed nothing on standard output.
  static bool _unloadAgentAtPath(const std::string& path, bool shouldDisable);
  // Unloads, then (only if that succeeded) removes the job file, clearing immutable flags.
  static bool removeAgentAtPath(const std::string& path);
  // Removes "<helper tools folder>/<label>" if it exists; true when absent or removed. A label
  // that is not a single safe file name (see isSafeLabel) names no helper: nothing is removed
  // and the answer is true.
  static bool removePrivilegedToolWithLabel(const std::string& label);
  static bool startAgentWithLabel(const std::string& label);
  static bool stopAgentWithLabel(const std::string& label);
  // The file's "Label" / "Program" text; none for a missing or unreadable file or key.
  static std::optional<std::string> jobLabelForLaunchdAgent(const std::string& path);
  static std::optional<std::string> getAppPathOfLaunchDaemon(const std::string& path);
  // The text up to and including the first ".app"; none when `object` is none or has no
  // ".app". When given, `executablePath` receives the whole text if it differs from the result.
  static std::optional<std::string> appPathFormObject(const std::optional<std::string>& object,
                                                      std::string* executablePath);

  // Replaces the environment (tool path, helper folder, message interface) for tests.
  static void setEnvironmentForTest(LaunchdEnvironment environment);
  static void resetEnvironmentForTest();
};

} // namespace utilities
