#include "tasks/processes/KLVProcessManagementService.h"

#include <cerrno>
#include <csignal>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace tasks {

namespace {
platform::NSError killFailedError(int errnoValue, pid_t pid) {
  return platform::NSError(
      kProcessManagementServiceErrorDomain, kProcessManagementKillFailedErrorCode,
      {{platform::NSUnderlyingErrorKey,
        std::make_shared<const platform::NSError>(platform::NSError::posix(errnoValue))},
       {kKLVEmbeddedProcessIdentifierKey, static_cast<int64_t>(pid)}});
}
} // namespace

bool KLVProcessManagementService::killProcessWithIdentifier(pid_t pid,
                                                            platform::NSError* error) const {
  int failure = 0;
  // A non-positive identifier would make getpgid look at the caller or kill name a group.
  const pid_t group = pid > 0 ? signalling_.processGroupOf(pid) : (errno = ESRCH, -1);
  if (group < 0) {
    failure = errno;
  } else if (group <= 1 || group == signalling_.ownProcessGroup()) {
    failure = EPERM;
  } else if (signalling_.sendSignal(-group, SIGKILL) != 0) {
    failure = errno;
  }
  if (failure == 0) {
    return true;
  }
  platform::setError(error, killFailedError(failure, pid));
  errno = 0;
  return false;
}

bool KLVProcessManagementService::isProcessRunningWithIdentifier(pid_t pid) const {
  return pid > 0 && signalling_.processGroupOf(pid) >= 0;
}

bool KLVProcessManagementService::isProcessUnderAdminPrivilegeWithIdentifier(pid_t pid) const {
  struct stat info;
  const std::string path = "/proc/" + std::to_string(pid);
  return pid > 0 && ::stat(path.c_str(), &info) == 0 && info.st_uid == 0;
}

} // namespace tasks
