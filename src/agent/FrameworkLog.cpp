#include "agent/FrameworkLog.h"

#include "ipc/Logger.h"
#include "platform/log/OSLog.h"

namespace agent {

void installFrameworkLogHandler() {
  ipc::Logger::setHandler([log = platform::OSLog("PrivilegedAgent", "IPC")](
                              ipc::Logger::Level level, const ipc::Logger::MessageBuilder& build) {
    switch (level) {
    case ipc::Logger::Level::error:
      log.error(build());
      break;
    case ipc::Logger::Level::info:
      log.info(build());
      break;
    case ipc::Logger::Level::debug:
      break;
    }
  });
}

} // namespace agent
