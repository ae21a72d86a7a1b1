#include "ipc/ClientIdentity.h"

#include "platform/foundation/LogText.h"

namespace ipc {

std::string peerLogText(const ClientIdentity& identity) {
  if (identity.pid == 0) {
    return {};
  }
  const std::string executable =
      identity.executable.empty() ? "<gone>" : platform::escapedForLog(identity.executable);
  return "client pid <" + std::to_string(identity.pid) + ">, uid <" + std::to_string(identity.uid) +
         ">, executable <" + executable + ">";
}

} // namespace ipc
