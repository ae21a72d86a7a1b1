#include "agent/AuditLog.h"

#include "platform/foundation/LogText.h"
#include "platform/log/OSLog.h"

#include <cstdio>

namespace agent {

AuditRecord::AuditRecord(std::optional<ipc::ClientIdentity> client, std::string_view requestType,
                         std::string subject)
    : client_(std::move(client)),
      requestType_(requestType.substr(
          requestType.rfind('.') == std::string_view::npos ? 0 : requestType.rfind('.') + 1)),
      subject_(std::move(subject)), started_(std::chrono::steady_clock::now()) {}

void AuditRecord::write(const std::optional<std::string>& error) const {
  static const platform::OSLog log("PrivilegedAgent", "Audit");
  const double milliseconds =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started_)
          .count();
  char duration[32];
  std::snprintf(duration, sizeof duration, "%.1f", milliseconds);
  std::string line = "request=" + requestType_ + " subject=" + platform::quotedForLog(subject_) +
                     " outcome=" + (error ? "failure" : "success");
  if (error) {
    line += " error=" + platform::quotedForLog(*error);
  }
  line += std::string(" duration_ms=") + duration;
  if (client_) {
    line += " client_pid=" + std::to_string(client_->pid) +
            " client_uid=" + std::to_string(client_->uid) +
            " client_executable=" + platform::quotedForLog(client_->executable) +
            " client_identifier=" + platform::quotedForLog(client_->signingIdentifier);
  } else {
    line += " client=unknown";
  }
  log.notice(line);
}

} // namespace agent
