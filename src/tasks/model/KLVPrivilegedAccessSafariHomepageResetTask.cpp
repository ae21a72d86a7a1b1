#include "tasks/model/KLVPrivilegedAccessSafariHomepageResetTask.h"

#include "tasks/model/TaskExecutors.h"

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
  return TaskExecutors::shared().perform(*this);
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
