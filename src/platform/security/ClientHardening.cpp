#include "platform/security/ClientHardening.h"

#include <cerrno>
#include <sys/prctl.h>

namespace platform::security {

bool makeProcessNonDumpable(NSError* error) {
  if (::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) != 0) {
    setError(error, NSError::posix(errno));
    return false;
  }
  return true;
}

} // namespace platform::security
