#include "tasks/homepage/KLVSafariHomepageService.h"

#include "tasks/homepage/KLVRunningApplicationController.h"
#include "tasks/homepage/KLVSafariPlaceholderProfile.h"
#include "tasks/processes/KLVCommandToolError.h"
#include "utilities/Log.h"

#include <sys/stat.h>
#include <thread>

namespace tasks {
namespace {

constexpr const char* kDirectoryServiceToolPath = "/usr/bin/dscl";
constexpr const char* kManagedPreferencesRefreshToolPath = "/usr/bin/mcxrefresh";
constexpr const char* kDefaultsToolPath = "/usr/bin/defaults";
constexpr const char* kHomepageKey = "HomePage";
// The sandbox broker spells the key with a lower-case p.
constexpr const char* kSandboxBrokerHomepageKey = "Homepage";
constexpr const char* kSandboxBrokerPreferencesPath =
    "/Preferences/com.apple.Safari.SandboxBroker.plist";
const platform::SystemVersion kCurrentManagedPreferencesVersion{11, 0, 0};

platform::NSError wrapping(int64_t code, const platform::NSError& underlying) {
  return platform::NSError(
      kKLVSafariHomepageServiceErrorDomain, code,
      {{platform::NSUnderlyingErrorKey, std::make_shared<const platform::NSError>(underlying)}});
}

bool fileExists(const std::string& path) {
  struct stat status {};
  return ::stat(path.c_str(), &status) == 0;
}

} // namespace

// What one reset works with: the user, where the user's files are, and the caller's control.
struct KLVSafariHomepageService::Run {
  std::string userName;
  std::shared_ptr<KLVPathsProvider> pathsProvider;
  std::shared_ptr<KLVExecutionControl> executionControl;

  // The sandbox broker's preferences in the user's Library folder, when the file exists.
  std::optional<std::string> sandboxBrokerPreferencesPath() const {
    auto library = pathsProvider->userLibraryDirectoryURL();
    if (!library) {
      return std::nullopt;
    }
    std::string path = library->path() + kSandboxBrokerPreferencesPath;
    return fileExists(path) ? std::optional(path) : std::nullopt;
  }
};

KLVSafariHomepageService::KLVSafariHomepageService(
    KLVBundleIdentifiersProvider bundleIdentifiersProvider,
    std::shared_ptr<const KLVTemporaryDirectoryProvider> temporaryDirectoryProvider,
    platform::SystemVersion systemVersion, std::shared_ptr<const KLVPlistService> plistService,
    std::shared_ptr<KLVProfileService> profileService,
    std::shared_ptr<KLVTaskRunnerService> taskRunnerService,
    std::shared_ptr<platform::Workspace> workspace, double externalUtilityExecutionTimeout,
    int qualityOfService)
    : bundleIdentifiersProvider_(bundleIdentifiersProvider),
      temporaryDirectoryProvider_(std::move(temporaryDirectoryProvider)),
      systemVersion_(systemVersion), plistService_(std::move(plistService)),
      profileService_(std::move(profileService)), taskRunnerService_(std::move(taskRunnerService)),
      workspace_(std::move(workspace)),
      externalUtilityExecutionTimeout_(externalUtilityExecutionTimeout),
      qualityOfService_(qualityOfService), lookup_(KLVPathsProvider::providerWithUserName) {}

bool KLVSafariHomepageService::resetHomepageForUser(
    const std::string& userName, platform::NSError* error,
    std::shared_ptr<KLVExecutionControl> executionControl) {
  // The name becomes part of a directory path and a tool argument: it is checked here even when
  // the lookup would accept it.
  auto pathsProvider =
      KLVPathsProvider::isAcceptableUserName(userName) ? lookup_(userName) : nullptr;
  if (pathsProvider == nullptr) {
    platform::setError(error,
                       platform::NSError(kKLVSafariHomepageServiceErrorDomain,
                                         kKLVSafariHomepageUserUnresolved,
                                         {{kKLVEmbeddedUserNameKey, userName},
                                          {platform::NSDebugDescriptionErrorKey,
                                           "Failed to resolve home path for the specified user"}}));
    return false;
  }
  Run run{userName, std::move(pathsProvider), std::move(executionControl)};
  if (systemVersion_.isAtLeast(kCurrentManagedPreferencesVersion)) {
    return resetOnCurrentSystem(run, error);
  }
  return resetOnOlderSystem(run, error);
}

bool KLVSafariHomepageService::resetOnCurrentSystem(Run& run, platform::NSError* error) {
  if (!setManagedHomepage(run, error) || !refreshManagedPreferences(run, error)) {
    return false;
  }
  addStartPageToDefaults(run);
  launchBrowserInBackground();
  // On failure the browser stays open: the forced page is still in place for it.
  if (!deleteManagedHomepage(run, error) || !refreshManagedPreferences(run, error)) {
    return false;
  }
  removeStartPageFromDefaults(run);
  quitBrowser();
  return true;
}

bool KLVSafariHomepageService::resetOnOlderSystem(Run& run, platform::NSError* error) {
  if (!setManagedHomepage(run, error)) {
    return false;
  }
  platform::NSError writeError;
  auto placeholder = KLVSafariPlaceholderProfileFile::write(
      *plistService_, temporaryDirectoryProvider_->temporaryDirectoryURL(), &writeError);
  if (placeholder == nullptr) {
    platform::setError(error, wrapping(kKLVSafariHomepagePlaceholderNotWritten, writeError));
    return false;
  }
  platform::NSError installError;
  if (!profileService_->installConfigurationProfileWithURL(placeholder->url(), run.userName,
                                                           &installError)) {
    utilities::log("%@", {utilities::describeError(installError)});
    platform::setError(error, wrapping(kKLVSafariHomepagePlaceholderNotInstalled, installError));
    return false;
  }

  addStartPageToDefaults(run);
  launchBrowserInBackground();
  std::this_thread::sleep_for(browserRunTime_);
  quitBrowser();

  if (!deleteManagedHomepage(run, error)) {
    return false;
  }
  platform::NSError cleanupError;
  if (!profileService_->uninstallConfigurationProfileWithURL(placeholder->url(), run.userName,
                                                             &cleanupError)) {
    utilities::log("Error was occurred while uninstall dummy safari config, %@",
                   {utilities::describeError(cleanupError)});
  }
  if (!placeholder->removeFile(&cleanupError)) {
    utilities::log("Error was occurred while removing dummy safari config, %@",
                   {utilities::describeError(cleanupError)});
  }
  removeStartPageFromDefaults(run);
  return true;
}

bool KLVSafariHomepageService::setManagedHomepage(Run& run, platform::NSError* error) {
  platform::NSError toolError;
  if (runTool(run, kDirectoryServiceToolPath,
              {".", "mcxset", "/Users/" + run.userName,
               bundleIdentifiersProvider_.safariBrowserBundleIdentifier(), kHomepageKey, "always",
               kKLVSafariDefaultStartPageURL},
              &toolError)) {
    return true;
  }
  platform::setError(error, wrapping(kKLVSafariHomepageManagedSetFailed, toolError));
  return false;
}

bool KLVSafariHomepageService::deleteManagedHomepage(Run& run, platform::NSError* error) {
  platform::NSError toolError;
  if (runTool(run, kDirectoryServiceToolPath,
              {".", "mcxdelete", "/Users/" + run.userName,
               bundleIdentifiersProvider_.safariBrowserBundleIdentifier(), kHomepageKey},
              &toolError)) {
    return true;
  }
  platform::setError(error, wrapping(kKLVSafariHomepageManagedDeleteFailed, toolError));
  return false;
}

bool KLVSafariHomepageService::refreshManagedPreferences(Run& run, platform::NSError* error) {
  platform::NSError toolError;
  if (runTool(run, kManagedPreferencesRefreshToolPath, {"-n", run.userName}, &toolError)) {
    return true;
  }
  platform::setError(error, wrapping(kKLVSafariHomepageManagedRefreshFailed, toolError));
  return false;
}

bool KLVSafariHomepageService::runTool(Run& run, const std::string& path,
                                       std::vector<std::string> arguments,
                                       platform::NSError* error) {
  KLVTaskRunnerInput input(path);
  input.arguments = std::move(arguments);
  input.setTimeoutInterval(externalUtilityExecutionTimeout_);
  // The time limit always applies, also to a zero interval.
  input.shouldRunTaskUntilFinish = false;
  input.qualityOfService = qualityOfService_;
  input.executionControl = run.executionControl;

  platform::NSError runnerError;
  auto output = taskRunnerService_->executeTaskWithInput(input, &runnerError);
  if (output && output->isExitStatusSuccess()) {
    return true;
  }
  platform::setError(error, commandToolError(kKLVSafariHomepageServiceErrorDomain,
                                             kKLVSafariHomepageToolFailed, output,
                                             output ? std::nullopt : std::optional(runnerError)));
  return false;
}

void KLVSafariHomepageService::addStartPageToDefaults(Run& run) {
  platform::NSError error;
  if (!runTool(run, kDefaultsToolPath,
               {"write", bundleIdentifiersProvider_.safariBrowserBundleIdentifier(), kHomepageKey,
                kKLVSafariDefaultStartPageURL},
               &error)) {
    utilities::log("Error was occurred while adding start page into safari defaults, %@",
                   {utilities::describeError(error)});
  }
  auto sandboxBroker = run.sandboxBrokerPreferencesPath();
  if (!sandboxBroker) {
    return;
  }
  if (!runTool(run, kDefaultsToolPath,
               {"write", *sandboxBroker, kSandboxBrokerHomepageKey, kKLVSafariDefaultStartPageURL},
               &error)) {
    utilities::log("Error was occurred while adding start page into safari sandbox broker, %@",
                   {utilities::describeError(error)});
  }
}

void KLVSafariHomepageService::removeStartPageFromDefaults(Run& run) {
  platform::NSError error;
  if (!runTool(run, kDefaultsToolPath,
               {"delete", bundleIdentifiersProvider_.safariBrowserBundleIdentifier(), kHomepageKey},
               &error)) {
    utilities::log("Error was occurred while removing start page into safari defaults, %@",
                   {utilities::describeError(error)});
  }
  auto sandboxBroker = run.sandboxBrokerPreferencesPath();
  if (!sandboxBroker) {
    return;
  }
  if (!runTool(run, kDefaultsToolPath, {"delete", *sandboxBroker, kSandboxBrokerHomepageKey},
               &error)) {
    utilities::log("Error was occurred while removing start page into safari sandbox broker, %@",
                   {utilities::describeError(error)});
  }
}

void KLVSafariHomepageService::launchBrowserInBackground() {
  auto url = workspace_->URLForApplicationWithBundleIdentifier(
      bundleIdentifiersProvider_.safariBrowserBundleIdentifier());
  if (!url) {
    utilities::log("Cant find safari application path");
    return;
  }
  platform::NSError error;
  if (!workspace_->launchApplicationAtURL(
          *url, platform::kWorkspaceLaunchAndHide | platform::kWorkspaceLaunchWithoutActivation,
          &error)) {
    utilities::log("Error was occurred while launching safari in background, %@",
                   {utilities::describeError(error)});
  }
}

void KLVSafariHomepageService::quitBrowser() {
  KLVRunningApplicationController(bundleIdentifiersProvider_.safariBrowserBundleIdentifier(),
                                  externalUtilityExecutionTimeout_, workspace_)
      .terminateForcefully();
}

} // namespace tasks
