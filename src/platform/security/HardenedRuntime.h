#pragma once

#include "platform/security/LibraryValidation.h"
#include "platform/security/SecStatus.h"

#include <cstddef>
#include <optional>
#include <string>
#include <sys/types.h>

namespace platform::security {

// The group that signed clients are installed set-group-ID to, unless the build names another
// (AGENT_CLIENTS_GROUP). It must be dedicated to them: no members, and no other program
// set-group-ID to it.
extern const char* const kDefaultClientsGroupName;

// What the kernel recorded about a peer when it connected (SO_PEERCRED), standing in for the
// platform's audit token. The ids are the effective ones at connect(), so a process that
// connected before it started the program it now runs shows the ids it had then.
struct AuditToken {
  pid_t pid = 0;
  uid_t uid = static_cast<uid_t>(-1);
  gid_t gid = static_cast<gid_t>(-1);
};

// What a client's process must show beyond a valid signature.
struct RuntimePolicy {
  // The clients' group (never 0).
  gid_t clientsGroup = 0;

  // The policy for the group named `name` in the group database. errSecCSReqInvalid with a
  // message when no such group exists or it is root's group.
  static SecStatus forGroupNamed(const std::string& name, RuntimePolicy& policy);
};

// The process to judge: everything but its /proc entry, which the check opens itself.
struct RuntimeSubject {
  pid_t pid = 0;
  int pidfd = -1;
  // The credentials of its connection; none when it was not found through a connection.
  std::optional<AuditToken> connection;
  // The executable it was found running, and the word size of that executable (4 or 8).
  FileIdentity executable;
  size_t wordSize = sizeof(long);
};

// The hardened-runtime stand-in, built on what the kernel guarantees rather than on state that
// the process can rewrite. Signed clients are installed set-group-ID to the clients' group, so
// the kernel starts them in secure-execution mode: non-dumpable from their first instruction,
// with LD_PRELOAD and LD_AUDIT paths ignored; and it withholds the group when an unprivileged
// tracer is attached at exec. The process is refused (errSecCSGuestInvalid, with the reason)
// unless, after the tracer and environment filters of checkProcessHardening:
// - it connected while its effective group already was the clients' group (so it opened the
//   connection itself, after the set-group-ID exec, and no earlier program shares the socket);
// - its effective group is the clients' group, its real group is not, and the group is not one
//   of its supplementary groups (members could start their own code with that group);
// - it is not dumpable (unless it runs as root, whom nothing stops);
// - AT_SECURE is 1 in its auxiliary vector;
// - every executable mapping passes library validation (LibraryValidation.h).
// errSecCSNoSuchCode when it is gone. The caller confirms afterwards that the process has not
// started another program meanwhile.
SecStatus checkHardenedRuntime(const RuntimeSubject& subject, const RuntimePolicy& policy);

} // namespace platform::security
