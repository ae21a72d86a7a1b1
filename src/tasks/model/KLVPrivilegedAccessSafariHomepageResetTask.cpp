#include "tasks/model/KLVPrivilegedAccessSafariHomepageResetTask.h"

#include "platform/foundation/Workspace.h"
#include "tasks/files/KLVPathsProvider.h"
#include "tasks/homepage/KLVSafariHomepageService.h"
#include "tasks/profiles/KLVProfileService.h"

namespace tasks {

const platform::archive::ObjectClass& KLVPrivilegedAccessSafariHomepageResetTask::classObject() {
  static const platform::archive::ObjectClass objectClass(
      "KLVPrivilegedAccessSafariHomepageResetTask", &KLVPrivilegedAccessTask::classObject(), true,
      [](platform::archive::KeyedUnarchiver& coder) -> platform::archive::ObjectPtr {
        auto userName = coder.decodeStringForKey("userName");
        auto timeout = decodeTimeout(coder);
        if (!userName || !timeout) {
          return nullptr;
        }
        auto uuid = decodeUUID(coder);
        if (!uuid || coder.error()) {
          return nullptr;
        }
        return std::make_shared<KLVPrivilegedAccessSafariHomepageResetTask>(
            *uuid, std::move(*userName), *timeout);
      });
  return objectClass;
}

ResultPtr KLVPrivilegedAccessSafariHomepageResetTask::perform() {
  auto pathsProvider = KLVPathsProvider::providerWithUserName(userName_);
  if (pathsProvider == nullptr) {
    return KLVResultObject::failureResultWithError(
        platform::NSError(kKLVPrivilegedAccessSafariHomepageResetTaskErrorDomain,
                          kKLVPrivilegedAccessSafariHomepageResetTaskUnknownUser,
                          {{kKLVEmbeddedUserNameKey, userName_}}));
  }
  const auto systemVersion = platform::SystemVersion::current();
  const double timeout = externalUtilityExecutionTimeout();
  auto taskRunner = std::make_shared<KLVTaskRunnerService>();
  auto plistService = std::make_shared<KLVPlistService>();
  auto profileService = std::make_shared<KLVProfileService>(systemVersion, pathsProvider,
                                                            taskRunner, plistService, timeout);
  KLVSafariHomepageService service(KLVBundleIdentifiersProvider(), pathsProvider, systemVersion,
                                   plistService, profileService, taskRunner,
                                   platform::Workspace::shared(), timeout);
  platform::NSError error;
  const bool reset = service.resetHomepageForUser(userName_, &error);
  return KLVResultObject::resultWithStatus(reset, reset ? std::nullopt : std::optional(error));
}

void KLVPrivilegedAccessSafariHomepageResetTask::encodeWithCoder(
    platform::archive::KeyedArchiver& coder) const {
  KLVTimeoutTask::encodeWithCoder(coder);
  coder.encodeString(userName_, "userName");
}

bool KLVPrivilegedAccessSafariHomepageResetTask::isEqual(
    const platform::archive::Object& other) const {
  return KLVTimeoutTask::isEqual(other) &&
         static_cast<const KLVPrivilegedAccessSafariHomepageResetTask&>(other).userName_ ==
             userName_;
}

} // namespace tasks
