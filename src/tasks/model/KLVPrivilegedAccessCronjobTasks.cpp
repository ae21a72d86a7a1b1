#include "tasks/model/KLVPrivilegedAccessCronjobTasks.h"

#include "tasks/model/TaskExecutors.h"

namespace tasks {

const platform::archive::ObjectClass& KLVPrivilegedAccessCronjobFetcherTask::classObject() {
  static const platform::archive::ObjectClass objectClass(
      "KLVPrivilegedAccessCronjobFetcherTask", &KLVPrivilegedAccessTask::classObject(), true,
      decodeTimeoutTask<KLVPrivilegedAccessCronjobFetcherTask>);
  return objectClass;
}

ResultPtr KLVPrivilegedAccessCronjobFetcherTask::perform() {
  return TaskExecutors::shared().perform(*this);
}

const platform::archive::ObjectClass& KLVPrivilegedAccessCronjobRemoverTask::classObject() {
  static const platform::archive::ObjectClass objectClass(
      "KLVPrivilegedAccessCronjobRemoverTask", &KLVPrivilegedAccessTask::classObject(), true,
      [](platform::archive::KeyedUnarchiver& coder) -> platform::archive::ObjectPtr {
        auto source = coder.decodeStringForKey("cronjobSource");
        auto userName = coder.decodeStringForKey("userName");
        auto timeout = decodeTimeout(coder);
        if (!source || !userName || !timeout) {
          return nullptr;
        }
        auto uuid = decodeUUID(coder);
        if (!uuid || coder.error()) {
          return nullptr;
        }
        return std::make_shared<KLVPrivilegedAccessCronjobRemoverTask>(
            *uuid, std::move(*source), std::move(*userName), *timeout);
      });
  return objectClass;
}

ResultPtr KLVPrivilegedAccessCronjobRemoverTask::perform() {
  return TaskExecutors::shared().perform(*this);
}

void KLVPrivilegedAccessCronjobRemoverTask::encodeWithCoder(
    platform::archive::KeyedArchiver& coder) const {
  KLVTimeoutTask::encodeWithCoder(coder);
  coder.encodeString(cronjobSource_, "cronjobSource");
  coder.encodeString(userName_, "userName");
}

bool KLVPrivilegedAccessCronjobRemoverTask::isEqual(const platform::archive::Object& other) const {
  if (!KLVTimeoutTask::isEqual(other)) {
    return false;
  }
  const auto& task = static_cast<const KLVPrivilegedAccessCronjobRemoverTask&>(other);
  return task.cronjobSource_ == cronjobSource_ && task.userName_ == userName_;
}

size_t KLVPrivilegedAccessCronjobRemoverTask::hash() const {
  const std::hash<std::string> stringHash;
  return KLVTimeoutTask::hash() ^ stringHash(cronjobSource_) ^ stringHash(userName_);
}

} // namespace tasks
