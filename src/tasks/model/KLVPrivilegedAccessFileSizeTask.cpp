#include "tasks/model/KLVPrivilegedAccessFileSizeTask.h"

#include "platform/archive/Values.h"
#include "tasks/files/KLVFileSizeAccessService.h"

namespace tasks {

const platform::archive::ObjectClass& KLVPrivilegedAccessFileSizeTask::classObject() {
  static const platform::archive::ObjectClass objectClass(
      "KLVPrivilegedAccessFileSizeTask", &KLVPrivilegedAccessTask::classObject(), true,
      decodeURLTask<KLVPrivilegedAccessFileSizeTask>);
  return objectClass;
}

ResultPtr KLVPrivilegedAccessFileSizeTask::perform() {
  platform::NSError error;
  const uint64_t size = KLVFileSizeAccessService().fileSizeWithURL(url(), &error);
  if (size == kKLVInvalidFileSize) {
    return KLVResultObject::failureResultWithError(error);
  }
  // Numbers travel as signed 64-bit integers; no file comes near the sign bit.
  return KLVResultObject::resultWithValue(
      platform::archive::NSNumber::make(static_cast<int64_t>(size)),
      error.domain().empty() ? std::nullopt : std::optional(error));
}

} // namespace tasks
