#include "tasks/model/KLVPrivilegedAccessEmptyDirectoryFetcherTask.h"

#include "platform/archive/Values.h"
#include "tasks/files/KLVDirectoryEmptiness.h"
#include "tasks/files/KLVURLProperties.h"

namespace tasks {

const platform::archive::ObjectClass& KLVPrivilegedAccessEmptyDirectoryFetcherTask::classObject() {
  static const platform::archive::ObjectClass objectClass(
      "KLVPrivilegedAccessEmptyDirectoryFetcherTask", &KLVPrivilegedAccessTask::classObject(), true,
      decodeURLTask<KLVPrivilegedAccessEmptyDirectoryFetcherTask>);
  return objectClass;
}

ResultPtr KLVPrivilegedAccessEmptyDirectoryFetcherTask::perform() {
  platform::NSError error;
  const bool empty = klv_isDirectoryEmptyAtPath(klv_fileSystemPath(url()), {".DS_Store"}, &error);
  return KLVResultObject::resultWithValue(platform::archive::NSNumber::make(!empty),
                                          error.domain().empty() ? std::nullopt
                                                                 : std::optional(error));
}

} // namespace tasks
