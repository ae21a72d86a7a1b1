#pragma once

#include "platform/security/HardenedRuntime.h"
#include "platform/security/ProcessChecks.h"
#include "platform/security/StaticCode.h"

#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>

namespace platform::security {

// Running code: a process named by its pid and a pidfd that proves which process it is. Its
// static code is the executable that the process runs, opened through /proc/PID/exe.
class DynamicCode {
public:
  // `pidfd` must refer to `pid` (it is duplicated; the caller keeps its own). errSecCSNoSuchCode
  // when the process is gone (also when its pid now names another process).
  static SecStatus create(pid_t pid, int pidfd, std::shared_ptr<DynamicCode>& code);
  // The same for the peer of a connection, keeping what the kernel recorded when it connected.
  static SecStatus create(const AuditToken& token, int pidfd, std::shared_ptr<DynamicCode>& code);

  pid_t pid() const { return pid_; }
  int pidfd() const { return pidfd_.get(); }
  // The executable file of the process, as it was opened.
  const std::shared_ptr<StaticCode>& staticCode() const { return staticCode_; }
  // The path of the executable when it was opened (may end in " (deleted)").
  const std::string& path() const { return staticCode_->path(); }

  // The process is alive, not traced, not started with loader injection, has not started
  // another program since it was opened (not even the same executable again), and its
  // executable is valid (and satisfies `requirement`).
  SecStatus checkValidity(const ValidationOptions& options, const Requirement* requirement,
                          SigningInformation* validated = nullptr) const;
  // errSecCSNoSuchCode when the process has exited.
  SecStatus checkAlive() const;
  // The hardened-runtime and library-validation checks (HardenedRuntime.h) of the process, which
  // must still run the program it ran when it was found. Only a process found through a
  // connection can pass them.
  SecStatus checkHardenedRuntime(const RuntimePolicy& policy) const;

private:
  SecStatus checkStillRunsSameExecutable() const;
  // errSecCSGuestInvalid when `image`, read just now, is not the one found at creation (the
  // process has exec'd since), or the process runs another executable.
  SecStatus checkSameProgram(const ProcessImage& image) const;
  // 4 or 8 after the ELF class of the executable; 0 when it is not ELF.
  size_t executableWordSize() const;

  pid_t pid_ = 0;
  std::optional<AuditToken> auditToken_;
  UniqueFd pidfd_;
  ProcessImage image_;
  std::shared_ptr<StaticCode> staticCode_;
};

} // namespace platform::security
