#include "tasks/model/KLVPrivilegedAccessProfileTasks.h"

#include "platform/archive/Collections.h"
#include "tasks/files/KLVPathsProvider.h"
#include "tasks/profiles/KLVProfileService.h"

namespace tasks {
namespace {

// The service as both tasks use it: the running system, the process's temporary folder and a
// fresh runner, with the task's time limit for every run of the tool.
KLVProfileService makeProfileService(double externalUtilityExecutionTimeout) {
  return KLVProfileService(platform::SystemVersion::current(), KLVPathsProvider::defaultProvider(),
                           std::make_shared<KLVTaskRunnerService>(),
                           std::make_shared<KLVPlistService>(), externalUtilityExecutionTimeout);
}

} // namespace

const platform::archive::ObjectClass& KLVPrivilegedAccessProfileFetcherTask::classObject() {
  static const platform::archive::ObjectClass objectClass(
      "KLVPrivilegedAccessProfileFetcherTask", &KLVPrivilegedAccessTask::classObject(), true,
      decodeTimeoutTask<KLVPrivilegedAccessProfileFetcherTask>);
  return objectClass;
}

ResultPtr KLVPrivilegedAccessProfileFetcherTask::perform() {
  platform::NSError error;
  auto profiles = makeProfileService(externalUtilityExecutionTimeout())
                      .fetchSystemConfigurationProfiles(&error);
  if (!profiles) {
    return KLVResultObject::failureResultWithError(std::move(error));
  }
  return KLVResultObject::resultWithValue(
      platform::archive::NSArray::make({profiles->begin(), profiles->end()}), std::nullopt);
}

const platform::archive::ObjectClass& KLVPrivilegedAccessProfileRemoverTask::classObject() {
  static const platform::archive::ObjectClass objectClass(
      "KLVPrivilegedAccessProfileRemoverTask", &KLVPrivilegedAccessTask::classObject(), true,
      [](platform::archive::KeyedUnarchiver& coder) -> platform::archive::ObjectPtr {
        auto profile = coder.decodeObjectOfClass<KLVConfigurationProfile>("profile");
        auto timeout = decodeTimeout(coder);
        if (profile == nullptr || !timeout) {
          return nullptr;
        }
        auto uuid = decodeUUID(coder);
        if (!uuid || coder.error()) {
          return nullptr;
        }
        return std::make_shared<KLVPrivilegedAccessProfileRemoverTask>(*uuid, std::move(profile),
                                                                       *timeout);
      });
  return objectClass;
}

ResultPtr KLVPrivilegedAccessProfileRemoverTask::perform() {
  platform::NSError error;
  const bool removed = makeProfileService(externalUtilityExecutionTimeout())
                           .uninstallConfigurationProfile(*profile_, &error);
  return KLVResultObject::resultWithStatus(removed, removed ? std::nullopt : std::optional(error));
}

void KLVPrivilegedAccessProfileRemoverTask::encodeWithCoder(
    platform::archive::KeyedArchiver& coder) const {
  KLVTimeoutTask::encodeWithCoder(coder);
  coder.encodeObject(profile_, "profile");
}

bool KLVPrivilegedAccessProfileRemoverTask::isEqual(const platform::archive::Object& other) const {
  return KLVTimeoutTask::isEqual(other) &&
         platform::archive::objectsEqual(
             profile_, static_cast<const KLVPrivilegedAccessProfileRemoverTask&>(other).profile_);
}

} // namespace tasks
