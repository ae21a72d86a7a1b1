#pragma once

#include "platform/foundation/NSError.h"
#include "platform/foundation/SystemVersion.h"
#include "platform/foundation/Workspace.h"
#include "tasks/files/KLVPathsProvider.h"
#include "tasks/files/KLVPlistService.h"
#include "tasks/files/KLVTemporaryDirectoryProvider.h"
#include "tasks/processes/KLVTaskRunnerService.h"
#include "tasks/profiles/KLVProfileService.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tasks {

inline constexpr const char* kKLVSafariHomepageServiceErrorDomain =
    "kKLVSafariHomepageServiceErrorDomain";
enum KLVSafariHomepageServiceErrorCode : int64_t {
  kKLVSafariHomepageToolFailed = 1,
  kKLVSafariHomepagePlaceholderNotWritten = 6,
  kKLVSafariHomepagePlaceholderNotInstalled = 7,
  kKLVSafariHomepageManagedSetFailed = 8,
  kKLVSafariHomepageManagedDeleteFailed = 9,
  kKLVSafariHomepageManagedRefreshFailed = 10,
  kKLVSafariHomepageUserUnresolved = 11,
};

// The page the browser shows when it starts, before a user chose another.
inline constexpr const char* kKLVSafariDefaultStartPageURL = "https://www.apple.com/startpage/";

// The bundle identifiers of the applications the library deals with.
struct KLVBundleIdentifiersProvider {
  std::string safariBrowserBundleIdentifier() const { return "com.apple.Safari"; }
};

// Puts a user's browser home page back to the default start page, also when managed
// preferences had locked it: the page is forced through the directory's managed preferences,
// the browser is started once in the background to take it up, and the forced setting is
// removed again. Systems before 11 need a placeholder profile installed meanwhile so that the
// managed preferences are applied.
class KLVSafariHomepageService {
public:
  using PathsProviderLookup =
      std::function<std::shared_ptr<KLVPathsProvider>(std::string_view userName)>;

  KLVSafariHomepageService(
      KLVBundleIdentifiersProvider bundleIdentifiersProvider,
      std::shared_ptr<const KLVTemporaryDirectoryProvider> temporaryDirectoryProvider,
      platform::SystemVersion systemVersion, std::shared_ptr<const KLVPlistService> plistService,
      std::shared_ptr<KLVProfileService> profileService,
      std::shared_ptr<KLVTaskRunnerService> taskRunnerService,
      std::shared_ptr<platform::Workspace> workspace, double externalUtilityExecutionTimeout,
      int qualityOfService = -1);

  // Whether the managed home page was forced and removed again. Only the managed preference
  // steps, the placeholder profile and the user lookup decide; editing the browser's defaults
  // and starting or quitting the browser are best effort and only logged.
  bool resetHomepageForUser(const std::string& userName, platform::NSError* error,
                            std::shared_ptr<KLVExecutionControl> executionControl = nullptr);

  // Test hooks: how users are looked up (the password database otherwise), and how long the
  // browser runs on older systems before it is quit (1 second otherwise).
  void setPathsProviderLookupForTest(PathsProviderLookup lookup) { lookup_ = std::move(lookup); }
  void setBrowserRunTimeForTest(std::chrono::milliseconds runTime) { browserRunTime_ = runTime; }

private:
  struct Run;

  bool resetOnCurrentSystem(Run& run, platform::NSError* error);
  bool resetOnOlderSystem(Run& run, platform::NSError* error);

  // Each runs one tool; false with error 1 (the tool's outcome) when it did not exit with 0.
  bool setManagedHomepage(Run& run, platform::NSError* error);
  bool deleteManagedHomepage(Run& run, platform::NSError* error);
  bool refreshManagedPreferences(Run& run, platform::NSError* error);
  bool runTool(Run& run, const std::string& path, std::vector<std::string> arguments,
               platform::NSError* error);

  void addStartPageToDefaults(Run& run);
  void removeStartPageFromDefaults(Run& run);
  void launchBrowserInBackground();
  void quitBrowser();

  KLVBundleIdentifiersProvider bundleIdentifiersProvider_;
  std::shared_ptr<const KLVTemporaryDirectoryProvider> temporaryDirectoryProvider_;
  platform::SystemVersion systemVersion_;
  std::shared_ptr<const KLVPlistService> plistService_;
  std::shared_ptr<KLVProfileService> profileService_;
  std::shared_ptr<KLVTaskRunnerService> taskRunnerService_;
  std::shared_ptr<platform::Workspace> workspace_;
  double externalUtilityExecutionTimeout_;
  int qualityOfService_;
  PathsProviderLookup lookup_;
  std::chrono::milliseconds browserRunTime_{1000};
};

} // namespace tasks
