#pragma once

#include "platform/foundation/NSError.h"
#include "platform/foundation/SystemVersion.h"
#include "platform/foundation/URL.h"
#include "tasks/files/KLVPlistService.h"
#include "tasks/files/KLVTemporaryDirectoryProvider.h"
#include "tasks/model/KLVConfigurationProfile.h"
#include "tasks/processes/KLVTaskRunnerService.h"
#include "tasks/profiles/KLVProfileUtilityOutputParser.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tasks {

inline constexpr const char* kKLVProfileServiceErrorDomain = "kKLVProfileServiceErrorDomain";
enum KLVProfileServiceErrorCode : int64_t {
  // The profile tool did not exit with status 0, or could not be run.
  kKLVProfileServiceToolFailed = 101,
  // The listing exited with 0 but gave no output text.
  kKLVProfileServiceNoOutput = 102,
  // The temporary removal profile could not be written.
  kKLVProfileServiceProfileNotWritten = 103,
  // The profile names a user that cannot be handed to the tool.
  kKLVProfileServiceUnacceptableUserName = 104,
};

inline constexpr const char* kKLVProfilesToolPath = "/usr/bin/profiles";

using ConfigurationProfiles = std::vector<std::shared_ptr<KLVConfigurationProfile>>;

// Lists, installs and removes configuration profiles through the profile tool. The tool's
// arguments depend on the system version: listings use "show" from 10.13 on and the old
// flags before.
class KLVProfileService {
public:
  KLVProfileService(platform::SystemVersion systemVersion,
                    std::shared_ptr<const KLVTemporaryDirectoryProvider> temporaryDirectoryProvider,
                    std::shared_ptr<KLVTaskRunnerService> taskRunnerService,
                    std::shared_ptr<const KLVPlistService> plistService,
                    double externalUtilityExecutionTimeout, int qualityOfService = -1);
  virtual ~KLVProfileService() = default;

  // The profiles of the device and of every user; none with `error` set (101, 102).
  std::optional<ConfigurationProfiles>
  fetchSystemConfigurationProfiles(platform::NSError* error,
                                   std::shared_ptr<KLVExecutionControl> executionControl = nullptr);
  // The profiles of the user the tool runs as.
  std::optional<ConfigurationProfiles>
  fetchUserConfigurationProfiles(platform::NSError* error,
                                 std::shared_ptr<KLVExecutionControl> executionControl = nullptr);

  // Removes `profile` through a temporary removal profile naming its identifier and UUID; the
  // temporary file is deleted afterwards in every case.
  bool uninstallConfigurationProfile(const KLVConfigurationProfile& profile,
                                     platform::NSError* error);
  // Removes the profile described by the file at `url`, for `userName` when given.
  virtual bool uninstallConfigurationProfileWithURL(const platform::URL& url,
                                                    const std::optional<std::string>& userName,
                                                    platform::NSError* error);
  // Installs the profile file at `url` for `userName`.
  virtual bool installConfigurationProfileWithURL(const platform::URL& url,
                                                  const std::string& userName,
                                                  platform::NSError* error);

  bool existsUserProfileWithUUIDText(const std::string& uuidText, platform::NSError* error);
  bool existsSystemProfileWithUUIDText(const std::string& uuidText, platform::NSError* error);

  const platform::SystemVersion& systemVersion() const { return systemVersion_; }

private:
  // The listing form of the arguments: "show" from 10.13 on.
  bool usesShowSyntax() const;
  std::optional<ConfigurationProfiles>
  fetchProfiles(std::vector<std::string> arguments, platform::NSError* error,
                std::shared_ptr<KLVExecutionControl> executionControl);
  // Runs the profile tool; none with error 101 unless it ran and exited with 0.
  std::optional<KLVTaskRunnerOutput>
  runProfilesTool(std::vector<std::string> arguments, platform::NSError* error,
                  std::shared_ptr<KLVExecutionControl> executionControl = nullptr);
  std::vector<std::string> removalArguments(const std::string& path,
                                            const std::optional<std::string>& userName) const;

  platform::SystemVersion systemVersion_;
  std::shared_ptr<const KLVTemporaryDirectoryProvider> temporaryDirectoryProvider_;
  std::shared_ptr<KLVTaskRunnerService> taskRunnerService_;
  std::shared_ptr<const KLVPlistService> plistService_;
  double externalUtilityExecutionTimeout_;
  int qualityOfService_;
  KLVProfileUtilityOutputParser outputParser_;
};

} // namespace tasks
