#include "tasks/model/KLVPrivilegedAccessFileRemoverTask.h"

#include "tasks/files/KLVFileRemoverService.h"

namespace tasks {

const platform::archive::ObjectClass& KLVPrivilegedAccessFileRemoverTask::classObject() {
  static const platform::archive::ObjectClass objectClass(
      "KLVPrivilegedAccessFileRemoverTask", &KLVPrivilegedAccessTask::classObject(), true,
      decodeURLTask<KLVPrivilegedAccessFileRemoverTask>);
  return objectClass;
}

ResultPtr KLVPrivilegedAccessFileRemoverTask::perform() {
  platform::NSError error;
  const bool removed = KLVFileRemoverService().removeFileWithURL(url(), false, &error);
  return KLVResultObject::resultWithStatus(removed, error.domain().empty() ? std::nullopt
                                                                           : std::optional(error));
}

} // namespace tasks
