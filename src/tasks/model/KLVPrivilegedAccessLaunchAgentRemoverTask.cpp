#include "tasks/model/KLVPrivilegedAccessLaunchAgentRemoverTask.h"

#include "tasks/files/KLVURLProperties.h"
#include "tasks/launchd/KLVLaunchdService.h"

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
  KLVLaunchdService service(utilities::FileManager::defaultManager(), KLVFileRemoverService(),
                            std::make_shared<KLVTaskRunnerService>(), timeout_);
  platform::NSError error;
  const bool removed = service.removeAgentAtPath(klv_fileSystemPath(url()), &error);
  return KLVResultObject::resultWithStatus(removed, error.domain().empty() ? std::nullopt
                                                                           : std::optional(error));
}

void KLVPrivilegedAccessLaunchAgentRemoverTask::encodeWithCoder(
    platform::archive::KeyedArchiver& coder) const {
  KLVURLTask::encodeWithCoder(coder);
  coder.encodeDouble(timeout_, "externalUtilityExecutionTimeout");
}

} // namespace tasks
