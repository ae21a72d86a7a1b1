#include "utilities/LRLaunchdManager.h"

#include "platform/posix/RetryOnInterrupt.h"
#include "utilities/FileManager.h"
#include "utilities/FileManagerAdditions.h"
#include "utilities/LRTaskRunner.h"
#include "utilities/Log.h"
#include "utilities/PathComponents.h"
#include "utilities/SafeLabel.h"
#include "utilities/UniqueFd.h"

#include <atomic>
#include <cerrno>
#include <exception>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace utilities {
namespace {

// Job files are a few kilobytes; anything beyond this is not a job file.
constexpr size_t kMaxJobFileBytes = 1024 * 1024;
constexpr int64_t kGetJobTimeoutSeconds = 30;

std::mutex environmentMutex;
LaunchdEnvironment& sharedEnvironment() {
  static LaunchdEnvironment environment;
  return environment;
}

LaunchdEnvironment currentEnvironment() {
  std::lock_guard lock(environmentMutex);
  return sharedEnvironment();
}

// Reads the job's property list (links followed, as the platform's reader does), bounded.
std::optional<platform::PropertyList> readJobFile(const std::string& path) {
  if (!hasFileSystemRepresentation(path)) {
    return std::nullopt;
  }
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  struct stat info;
  if (!fd || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) ||
      static_cast<uint64_t>(info.st_size) > kMaxJobFileBytes) {
    return std::nullopt;
  }
  std::string bytes;
  bytes.resize(kMaxJobFileBytes + 1);
  size_t length = 0;
  while (length < bytes.size()) {
    const ssize_t got = platform::posix::retryOnInterrupt(
        [&] { return ::read(fd.get(), bytes.data() + length, bytes.size() - length); });
    if (got < 0) {
      return std::nullopt;
    }
    if (got == 0) {
      break;
    }
    length += static_cast<size_t>(got);
  }
  if (length > kMaxJobFileBytes) {
    return std::nullopt;
  }
  bytes.resize(length);
  auto list = platform::PropertyList::parse(bytes);
  if (!list || list->root().type() != platform::PlistRef::Type::dictionary) {
    return std::nullopt;
  }
  return list;
}

std::optional<std::string> jobFileString(const std::string& path, const char* key) {
  try {
    auto list = readJobFile(path);
    return list ? list->root()[key].stringValue() : std::nullopt;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

// Runs launchctl with its error output suppressed and returns its standard output.
std::optional<std::string> launchctlOutput(const std::vector<std::string>& arguments) {
  LRTaskRunner runner;
  return runner.launchTaskAndGetOutput(currentEnvironment().launchctlPath, arguments, true);
}

} // namespace

void LRLaunchdManager::setEnvironmentForTest(LaunchdEnvironment environment) {
  std::lock_guard lock(environmentMutex);
  sharedEnvironment() = std::move(environment);
}

void LRLaunchdManager::resetEnvironmentForTest() {
  setEnvironmentForTest(LaunchdEnvironment());
}

bool LRLaunchdManager::isLoadedLaunchAgentWithConfigPath(const std::string& path) {
  if (path.empty()) {
    return false;
  }
  try {
    auto label = jobLabelForLaunchdAgent(path);
    if (!label) {
      return false;
    }
    auto request = platform::PropertyList::dictionary();
    request.setString("GetJob", *label);
    auto interface = currentEnvironment().messageInterface;
    // The answer is shared with the callback, which may come after the time-out.
    auto loaded = std::make_shared<std::atomic<bool>>(false);
    runAndWait(kGetJobTimeoutSeconds, [&](std::function<void()> completion) {
      auto reply = interface ? interface->sendMessage(request) : std::nullopt;
      loaded->store(reply && reply->root().type() == platform::PlistRef::Type::dictionary);
      completion();
    });
    return loaded->load();
  } catch (const std::exception&) {
    return false;
  }
}

bool LRLaunchdManager::loadLaunchAgentWithConfigPath(const std::string& path) {
  if (path.empty()) {
    return false;
  }
  if (isLoadedLaunchAgentWithConfigPath(path)) {
    return true;
  }
  LRTaskRunner runner;
  return runner.launchTaskAndGetTermStatusWithCmd(currentEnvironment().launchctlPath,
                                                  {"load", "-w", path}, true) == 0;
}

bool LRLaunchdManager::unloadLaunchAgentWithConfigPath(const std::string& path) {
  if (path.empty()) {
    return false;
  }
  // A launchctl that cannot run unloaded nothing: that is no success.
  std::optional<std::string> output;
  if (!LRTaskRunner().runForStandardOutput(currentEnvironment().launchctlPath, {"unload", path},
                                           output)) {
    log("Unloading error: %@ could not be run", {currentEnvironment().launchctlPath});
    return false;
  }
  if (output) {
    log("Unloading error: %@", {*output});
    return false;
  }
  return removePrivilegedToolWithLabel(labelFromJobFilePath(path));
}

bool LRLaunchdManager::enableAgentAtPath(const std::string& path) {
  if (path.empty()) {
    return false;
  }
  return isLoadedLaunchAgentWithConfigPath(path) || loadLaunchAgentWithConfigPath(path);
}

bool LRLaunchdManager::unloadAgentAtPath(const std::string& path) {
  return _unloadAgentAtPath(path, false);
}

bool LRLaunchdManager::disableAgentAtPath(const std::string& path) {
  return _unloadAgentAtPath(path, true);
}

bool LRLaunchdManager::_unloadAgentAtPath(const std::string& path, bool shouldDisable) {
  if (path.empty()) {
    return false;
  }
  if (!isLoadedLaunchAgentWithConfigPath(path)) {
    return true;
  }
  std::vector<std::string> arguments = shouldDisable
                                           ? std::vector<std::string>{"unload", "-w", path}
                                           : std::vector<std::string>{"unload", path};
  if (auto output = launchctlOutput(arguments)) {
    log("Unloading error: %@", {*output});
    return false;
  }
  if (auto label = jobLabelForLaunchdAgent(path)) {
    stopAgentWithLabel(*label);
  }
  return true;
}

bool LRLaunchdManager::removeAgentAtPath(const std::string& path) {
  if (path.empty() || !unloadLaunchAgentWithConfigPath(path)) {
    return false;
  }
  return removeFileAndHandleLockAtPath(path, nullptr);
}

bool LRLaunchdManager::removePrivilegedToolWithLabel(const std::string& label) {
  if (!isSafeLabel(label)) {
    log("Not removing a helper tool for the label %@: it is not a single file name", {label});
    return true;
  }
  try {
    const std::string toolPath =
        appendingPathComponent(currentEnvironment().privilegedHelperToolsPath, label);
    auto& fileManager = FileManager::defaultManager();
    if (!fileManager.fileExistsAtPath(toolPath)) {
      return true;
    }
    platform::NSError error;
    if (!fileManager.removeItemAtPath(toolPath, &error)) {
      log("Removing error: %@ file: %@", {describeError(error), toolPath});
      return false;
    }
    return true;
  } catch (const std::exception& exception) {
    log("Removing error: %@ file: %@", {exception.what(), label});
    return false;
  }
}

bool LRLaunchdManager::startAgentWithLabel(const std::string& label) {
  if (label.empty()) {
    return false;
  }
  LRTaskRunner runner;
  return runner.launchTaskAndGetTermStatusWithCmd(currentEnvironment().launchctlPath,
                                                  {"start", label}, true) == 0;
}

bool LRLaunchdManager::stopAgentWithLabel(const std::string& label) {
  if (label.empty()) {
    return false;
  }
  LRTaskRunner runner;
  return runner.launchTaskAndGetTermStatusWithCmd(currentEnvironment().launchctlPath,
                                                  {"stop", label}, true) == 0;
}

std::optional<std::string> LRLaunchdManager::jobLabelForLaunchdAgent(const std::string& path) {
  return jobFileString(path, "Label");
}

std::optional<std::string> LRLaunchdManager::getAppPathOfLaunchDaemon(const std::string& path) {
  return jobFileString(path, "Program");
}

std::optional<std::string>
LRLaunchdManager::appPathFormObject(const std::optional<std::string>& object,
                                    std::string* executablePath) {
  if (!object) {
    return std::nullopt;
  }
  auto found = object->find(".app");
  if (found == std::string::npos) {
    return std::nullopt;
  }
  std::string appPath = object->substr(0, found + 4);
  if (executablePath != nullptr && appPath != *object) {
    *executablePath = *object;
  }
  return appPath;
}

} // namespace utilities
