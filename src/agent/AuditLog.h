#pragma once

#include "ipc/ClientIdentity.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace agent {

// The class of an archived task and the URLs it names (at most a few), for its audit line:
// "KLVPrivilegedAccessFileRemoverTask file:///a, file:///b". The archive is read only as far as
// that; what cannot be read is said so, never thrown.
std::string describeArchivedTask(std::span<const uint8_t> archive);

// What a request acts on, for its audit line: its path, label, package, user or script.
template <class Q> std::string auditSubject(const Q& request) {
  if constexpr (requires { request.url.path(); }) {
    return request.url.path();
  } else if constexpr (requires { request.source + request.destination; }) {
    return request.source + " -> " + request.destination;
  } else if constexpr (requires { std::string(request.packageID); }) {
    return request.packageID;
  } else if constexpr (requires { std::string(request.userId); }) {
    return request.userId;
  } else if constexpr (requires { std::string(request.script); }) {
    return request.script;
  } else if constexpr (requires { request.taskData.size(); }) {
    return describeArchivedTask(request.taskData);
  } else {
    return {};
  }
}

// The audit trail: one line at notice priority per privileged request, in the log category
// "Audit", written when the request has run:
//   request=RemoveFileRequest subject="/tmp/x" outcome=success duration_ms=1.2
//   client_pid=812 client_uid=1000 client_executable="/usr/bin/agentctl"
//   client_identifier="com.quillby.Lumora5.agentctl"
// (one line; failures add error="..."). Texts are quoted and escaped, so that a file name
// cannot forge a field or a line.
class AuditRecord {
public:
  // `requestType` is the request's full type name; the line shows its last component.
  AuditRecord(std::optional<ipc::ClientIdentity> client, std::string_view requestType,
              std::string subject);
  // Writes the line for a request that succeeded, or failed with `error`.
  void succeeded() const { write({}); }
  void failed(const std::string& error) const { write(error); }

private:
  void write(const std::optional<std::string>& error) const;

  std::optional<ipc::ClientIdentity> client_;
  std::string requestType_;
  std::string subject_;
  std::chrono::steady_clock::time_point started_;
};

} // namespace agent
