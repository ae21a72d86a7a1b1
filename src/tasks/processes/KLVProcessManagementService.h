#pragma once

#include "platform/foundation/NSError.h"

#include <csignal>
#include <functional>
#include <sys/types.h>
#include <unistd.h>

namespace tasks {

inline constexpr const char* kProcessManagementServiceErrorDomain =
    "ProcessManagementServiceErrorDomain";
inline constexpr int64_t kProcessManagementKillFailedErrorCode = 7;
inline constexpr const char* kKLVEmbeddedProcessIdentifierKey = "kKLVEmbeddedProcessIdentifierKey";

// The system calls that termination makes, replaceable so that tests can watch them.
struct ProcessSignalling {
  std::function<pid_t(pid_t)> processGroupOf = [](pid_t pid) { return ::getpgid(pid); };
  std::function<int(pid_t, int)> sendSignal = [](pid_t pid, int signal) {
    return ::kill(pid, signal);
  };
  std::function<pid_t()> ownProcessGroup = [] { return ::getpgrp(); };
};

// Ends processes as root.
class KLVProcessManagementService {
public:
  KLVProcessManagementService() = default;
  explicit KLVProcessManagementService(ProcessSignalling signalling)
      : signalling_(std::move(signalling)) {}

  // Sends SIGKILL to the whole process group of `pid`. Groups 0 and 1 and the agent's own
  // group are refused with EPERM: signalling -1 would end every process of the machine, and
  // the agent's group would end the agent.
  bool killProcessWithIdentifier(pid_t pid, platform::NSError* error) const;
  // Whether the process group of `pid` can be read.
  bool isProcessRunningWithIdentifier(pid_t pid) const;
  // Whether the process runs with user id 0.
  bool isProcessUnderAdminPrivilegeWithIdentifier(pid_t pid) const;

private:
  ProcessSignalling signalling_;
};

} // namespace tasks
