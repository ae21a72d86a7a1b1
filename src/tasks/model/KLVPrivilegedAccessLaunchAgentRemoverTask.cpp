#include "tasks/model/KLVPrivilegedAccessLaunchAgentRemoverTask.h"

#include "tasks/model/TaskExecutors.h"

namespace tasks {

const platform::archive::ObjectClass& KLVPrivilegedAccessLaunchAgentRemoverTask::classObject() {
  static const platform::archive::ObjectClass objectClass(
      "KLVPrivilegedAccessLaunchAgentRemoverTask", &KLVPrivilegedAccessTask::classObject(), true,
      [](platform::archive::KeyedUnarchiver& coder) -> platform::archive::ObjectPtr {
        auto url = coder.decodeURLForKey("url");
        const double timeout = coder.decodeDoubleForKey("externalUtilityExecutionTimeout");
        if (!url || timeout == 0.0) {
          return nullptr;
        }
        auto uuid = decodeUUID(coder);
        if (!uuid || coder.error()) {
          return nullptr;
        }
        return std::make_shared<KLVPrivilegedAccessLaunchAgentRemoverTask>(*uuid, std::move(*url),
                                                                           timeout);
      });
  return objectClass;
}

ResultPtr KLVPrivilegedAccessLaunchAgentRemoverTask::perform() {
  return TaskExecutors::shared().perform(*this);
}

void KLVPrivilegedAccessLaunchAgentRemoverTask::encodeWithCoder(
    platform::archive::KeyedArchiver& coder) const {
  KLVURLTask::encodeWithCoder(coder);
  coder.encodeDouble(timeout_, "externalUtilityExecutionTimeout");
}

} // namespace tasks
