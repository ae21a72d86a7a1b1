#include "tasks/model/KLVPrivilegedAccessProfileTasks.h"

#include "tasks/model/TaskExecutors.h"

namespace tasks {
const platform::archive::ObjectClass& KLVPrivilegedAccessProfileFetcherTask::classObject() {
  static const platform::archive::ObjectClass objectClass(
      "KLVPrivilegedAccessProfileFetcherTask", &KLVPrivilegedAccessTask::classObject(), true,
      decodeTimeoutTask<KLVPrivilegedAccessProfileFetcherTask>);
  return objectClass;
}

ResultPtr KLVPrivilegedAccessProfileFetcherTask::perform() {
  return TaskExecutors::shared().perform(*this);
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
  return TaskExecutors::shared().perform(*this);
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
