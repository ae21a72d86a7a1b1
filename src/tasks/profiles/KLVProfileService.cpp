#include "tasks/profiles/KLVProfileService.h"

#include "platform/foundation/UUID.h"
#include "tasks/files/KLVPathsProvider.h"
#include "tasks/processes/KLVCommandToolError.h"
#include "utilities/Log.h"

#include <algorithm>
#include <cerrno>
#include <unistd.h>

namespace tasks {
namespace {

const platform::SystemVersion kShowSyntaxVersion{10, 13, 0};

// The removal profile's file: deleted when the removal is over, whatever its outcome.
class TemporaryProfileFile {
public:
  explicit TemporaryProfileFile(std::string path) : path_(std::move(path)) {}
  TemporaryProfileFile(const TemporaryProfileFile&) = delete;
  TemporaryProfileFile& operator=(const TemporaryProfileFile&) = delete;
  ~TemporaryProfileFile() {
    if (::unlink(path_.c_str()) != 0) {
      const auto error = platform::NSError::fileManagerError(errno, path_, true);
      utilities::log("Can't remove temporary file with path %@, error %@",
                     {path_, error.description()});
    }
  }
  const std::string& path() const { return path_; }

private:
  std::string path_;
};

// The removal profile: it names the profile to remove by identifier and UUID.
platform::PropertyList removalProfile(const KLVConfigurationProfile& profile) {
  auto content = platform::PropertyList::array();
  content.append(platform::PropertyList::dictionary());
  auto dictionary = platform::PropertyList::dictionary();
  dictionary.set("PayloadContent", std::move(content));
  dictionary.setString("PayloadIdentifier", profile.fields().profileIdentifier);
  dictionary.setString("PayloadUUID", profile.fields().profileUUIDText);
  return dictionary;
}

bool containsProfileWithUUIDText(const ConfigurationProfiles& profiles,
                                 const std::string& uuidText) {
  return std::any_of(profiles.begin(), profiles.end(), [&](const auto& profile) {
    return profile->fields().profileUUIDText == uuidText;
  });
}

// Error 104 unless `userName` is absent or may stand as a tool argument.
bool isAcceptableUserName(const std::optional<std::string>& userName, platform::NSError* error) {
  if (!userName || KLVPathsProvider::isAcceptableUserName(*userName)) {
    return true;
  }
  platform::setError(error, platform::NSError(kKLVProfileServiceErrorDomain,
                                              kKLVProfileServiceUnacceptableUserName,
                                              {{kKLVEmbeddedUserNameKey, *userName}}));
  return false;
}

} // namespace

KLVProfileService::KLVProfileService(
    platform::SystemVersion systemVersion,
    std::shared_ptr<const KLVTemporaryDirectoryProvider> temporaryDirectoryProvider,
    std::shared_ptr<KLVTaskRunnerService> taskRunnerService,
    std::shared_ptr<const KLVPlistService> plistService, double externalUtilityExecutionTimeout,
    int qualityOfService)
    : systemVersion_(systemVersion),
      temporaryDirectoryProvider_(std::move(temporaryDirectoryProvider)),
      taskRunnerService_(std::move(taskRunnerService)), plistService_(std::move(plistService)),
      externalUtilityExecutionTimeout_(externalUtilityExecutionTimeout),
      qualityOfService_(qualityOfService) {}

bool KLVProfileService::usesShowSyntax() const {
  return systemVersion_.isAtLeast(kShowSyntaxVersion);
}

std::optional<ConfigurationProfiles> KLVProfileService::fetchSystemConfigurationProfiles(
    platform::NSError* error, std::shared_ptr<KLVExecutionControl> executionControl) {
  auto arguments = usesShowSyntax() ? std::vector<std::string>{"show", "-all", "verbose"}
                                    : std::vector<std::string>{"-P", "-v"};
  return fetchProfiles(std::move(arguments), error, std::move(executionControl));
}

std::optional<ConfigurationProfiles> KLVProfileService::fetchUserConfigurationProfiles(
    platform::NSError* error, std::shared_ptr<KLVExecutionControl> executionControl) {
  auto arguments = usesShowSyntax() ? std::vector<std::string>{"show", "verbose"}
                                    : std::vector<std::string>{"-L", "-v"};
  return fetchProfiles(std::move(arguments), error, std::move(executionControl));
}

std::optional<ConfigurationProfiles>
KLVProfileService::fetchProfiles(std::vector<std::string> arguments, platform::NSError* error,
                                 std::shared_ptr<KLVExecutionControl> executionControl) {
  auto output = runProfilesTool(std::move(arguments), error, std::move(executionControl));
  if (!output) {
    return std::nullopt;
  }
  auto text = output->valueText();
  if (!text) {
    platform::setError(error, commandToolError(kKLVProfileServiceErrorDomain,
                                               kKLVProfileServiceNoOutput, output, std::nullopt));
    return std::nullopt;
  }
  return outputParser_.parseConfigurationProfilesFromOutput(*text);
}

bool KLVProfileService::uninstallConfigurationProfile(const KLVConfigurationProfile& profile,
                                                      platform::NSError* error) {
  const auto& fields = profile.fields();
  std::optional<std::string> userName;
  if (!fields.userName.empty() && !fields.isUnderAdminPrivilege) {
    userName = fields.userName;
  }
  // The profile comes from a client: its user name becomes a tool argument, so it is checked
  // before anything is written or run.
  if (!isAcceptableUserName(userName, error)) {
    return false;
  }

  const std::string path = temporaryDirectoryProvider_->temporaryDirectoryURL().path() + "/" +
                           platform::UUID().uuidString() + ".mobileconfig";
  const auto url = platform::URL::fileURLWithPath(path);
  platform::NSError writeError;
  if (!plistService_->writeDictionary(removalProfile(profile), url, &writeError)) {
    platform::setError(
        error, platform::NSError(kKLVProfileServiceErrorDomain, kKLVProfileServiceProfileNotWritten,
                                 {{platform::NSUnderlyingErrorKey,
                                   std::make_shared<const platform::NSError>(writeError)},
                                  {platform::NSURLErrorKey, url}}));
    return false;
  }
  TemporaryProfileFile file(path);
  return runProfilesTool(removalArguments(file.path(), userName), error).has_value();
}

bool KLVProfileService::uninstallConfigurationProfileWithURL(
    const platform::URL& url, const std::optional<std::string>& userName,
    platform::NSError* error) {
  if (!isAcceptableUserName(userName, error)) {
    return false;
  }
  return runProfilesTool(removalArguments(url.path(), userName), error).has_value();
}

bool KLVProfileService::installConfigurationProfileWithURL(const platform::URL& url,
                                                           const std::string& userName,
                                                           platform::NSError* error) {
  if (!isAcceptableUserName(userName, error)) {
    return false;
  }
  std::vector<std::string> arguments;
  if (usesShowSyntax()) {
    arguments = {"install", "-path=" + url.path(), "-user=" + userName};
  } else {
    arguments = {"-I", "-F", url.path()};
    if (!(systemVersion_.majorVersion == 10 && systemVersion_.minorVersion == 10)) {
      arguments.insert(arguments.end(), {"-U", userName});
    }
  }
  return runProfilesTool(std::move(arguments), error).has_value();
}

bool KLVProfileService::existsUserProfileWithUUIDText(const std::string& uuidText,
                                                      platform::NSError* error) {
  auto profiles = fetchUserConfigurationProfiles(error);
  return profiles && containsProfileWithUUIDText(*profiles, uuidText);
}

bool KLVProfileService::existsSystemProfileWithUUIDText(const std::string& uuidText,
                                                        platform::NSError* error) {
  auto profiles = fetchSystemConfigurationProfiles(error);
  return profiles && containsProfileWithUUIDText(*profiles, uuidText);
}

std::vector<std::string>
KLVProfileService::removalArguments(const std::string& path,
                                    const std::optional<std::string>& userName) const {
  if (usesShowSyntax()) {
    std::vector<std::string> arguments{"remove", "-path=" + path};
    if (userName) {
      arguments.push_back("-user=" + *userName);
    }
    return arguments;
  }
  std::vector<std::string> arguments{"-R", "-F", path};
  // The tool of 10.10 takes no user here.
  const bool isTen10 = systemVersion_.majorVersion == 10 && systemVersion_.minorVersion == 10;
  if (userName && !isTen10) {
    arguments.insert(arguments.end(), {"-U", *userName});
  }
  return arguments;
}

std::optional<KLVTaskRunnerOutput>
KLVProfileService::runProfilesTool(std::vector<std::string> arguments, platform::NSError* error,
                                   std::shared_ptr<KLVExecutionControl> executionControl) {
  KLVTaskRunnerInput input(kKLVProfilesToolPath);
  input.arguments = std::move(arguments);
  input.setTimeoutInterval(externalUtilityExecutionTimeout_);
  // The time limit always applies, also to a zero interval.
  input.shouldRunTaskUntilFinish = false;
  input.qualityOfService = qualityOfService_;
  input.executionControl = std::move(executionControl);

  platform::NSError runnerError;
  auto output = taskRunnerService_->executeTaskWithInput(input, &runnerError);
  if (!output || !output->isExitStatusSuccess()) {
    platform::setError(error, commandToolError(kKLVProfileServiceErrorDomain,
                                               kKLVProfileServiceToolFailed, output,
                                               output ? std::nullopt : std::optional(runnerError)));
    return std::nullopt;
  }
  return output;
}

} // namespace tasks
